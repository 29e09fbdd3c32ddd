#ifndef REPORTFILTER_H
#define REPORTFILTER_H

#include <string>
#include <string_view>

// Which records a report covers: local dates of trigertime (YYYY-MM-DD,
// inclusive, empty for open) and the product code.
struct ReportFilter
{
    std::string since, until, product;
    bool byProduct = false;

    bool acceptsDay(std::string_view day) const
    {
        return (since.empty() || day >= since) && (until.empty() || day <= until);
    }
    bool accepts(std::string_view pcode, std::string_view trigertime) const
    {
        return (!byProduct || pcode == product) && acceptsDay(trigertime.substr(0, 10));
    }
};

#endif // REPORTFILTER_H
