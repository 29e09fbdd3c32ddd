#include "ClickHouseResult.h"

#include <cstdlib>
#include <cstring>

namespace {

// The fields of one line, as (begin, size) within body.
template<typename Add>
void split(const QByteArray &body, int begin, int end, Add add)
{
    for (int from = begin;;) {
        const char *tab = static_cast<const char *>(std::memchr(body.constData() + from, '\t', size_t(end - from)));
        const int to = tab ? int(tab - body.constData()) : end;
        add(from, to - from);
        if (!tab)
            return;
        from = to + 1;
    }
}

} // namespace

bool ClickHouseResult::parse(const QByteArray &body, QString *error)
{
    m_body = body;
    m_names.clear();
    m_fields.clear();
    m_columns = 0;
    const int firstEnd = body.indexOf('\n'), secondEnd = firstEnd < 0 ? -1 : body.indexOf('\n', firstEnd + 1);
    if (secondEnd < 0 || !body.endsWith('\n')) {
        *error = QStringLiteral("ClickHouse answered something that is not a table: %1").arg(QString::fromUtf8(body.left(400)).trimmed());
        return false;
    }
    split(body, 0, firstEnd, [&](int begin, int size) { m_names << QString::fromUtf8(body.constData() + begin, size); });
    size_t types = 0;
    split(body, firstEnd + 1, secondEnd, [&](int, int) { ++types; });
    m_columns = size_t(m_names.size());
    for (int line = secondEnd + 1; line < body.size();) {
        const int end = body.indexOf('\n', line);
        const size_t before = m_fields.size();
        split(body, line, end, [&](int begin, int size) { m_fields.push_back({begin, size}); });
        if (m_fields.size() - before != m_columns) {
            *error = QStringLiteral("ClickHouse's answer broke off: %1").arg(QString::fromUtf8(body.mid(line, 400)).trimmed());
            return false;
        }
        line = end + 1;
    }
    if (types != m_columns) {
        *error = QStringLiteral("ClickHouse answered something that is not a table: %1").arg(QString::fromUtf8(body.left(400)).trimmed());
        return false;
    }
    return true;
}

int ClickHouseResult::column(const char *name)
{
    const int i = int(m_names.indexOf(QLatin1String(name)));
    if (i < 0)
        m_missing << QLatin1String(name);
    return i;
}

const char *ClickHouseResult::field(int row, int column, int *size) const
{
    if (column < 0) {
        *size = 0;
        return "";
    }
    const Field &f = m_fields[size_t(row) * m_columns + size_t(column)];
    *size = f.size;
    return m_body.constData() + f.begin;
}

int64_t ClickHouseResult::number(int row, int column) const
{
    int size;
    const char *p = field(row, column, &size);
    const std::string digits(p, size_t(size));
    // A fraction (an average) is cut, as a conversion to an integer would.
    return digits.find_first_of(".eE") == std::string::npos ? std::strtoll(digits.c_str(), nullptr, 10)
                                                             : int64_t(std::strtod(digits.c_str(), nullptr));
}

uint64_t ClickHouseResult::unsignedNumber(int row, int column) const
{
    int size;
    const char *p = field(row, column, &size);
    return std::strtoull(std::string(p, size_t(size)).c_str(), nullptr, 10);
}

// Tab-separated text escapes a backslash, tab, line break and a few more.
std::string ClickHouseResult::text(int row, int column) const
{
    int size;
    const char *p = field(row, column, &size);
    if (!std::memchr(p, '\\', size_t(size)))
        return std::string(p, size_t(size));
    if (size == 2 && p[1] == 'N')
        return std::string(); // NULL
    std::string s;
    s.reserve(size_t(size));
    for (int i = 0; i < size; ++i) {
        if (p[i] != '\\' || i + 1 == size) {
            s += p[i];
            continue;
        }
        switch (const char c = p[++i]) {
        case 'b': s += '\b'; break;
        case 'f': s += '\f'; break;
        case 'n': s += '\n'; break;
        case 'r': s += '\r'; break;
        case 't': s += '\t'; break;
        case 'a': s += '\a'; break;
        case 'v': s += '\v'; break;
        case '0': s += '\0'; break;
        default: s += c; break;
        }
    }
    return s;
}
