#ifndef RECORDFIELDS_H
#define RECORDFIELDS_H

// The fields of a record line, in the order the log writes them: the
// protocol's 25 text fields, then "seq" (a number), then "attrs" (an object
// of texts). Everything that writes or reads a line takes its names from here.

#include <cstdint>
#include <string_view>

namespace RecordFields {

enum Field {
    Pcode, Fncode, Fnname, Fngroup, Trigertime, Gid, Vername, Ver, Ver2, Debug, Usetype, Utype,
    Mac, Hardwareid, Ip, Projectid, Prjfullpath, Prjtext, Prjedocnt, Prjsize, Prjcost, Regionrule,
    Major, Duration, Sessionid,
    Count
};

constexpr std::string_view names[Count] = {
    "pcode", "fncode", "fnname", "fngroup", "trigertime", "gid", "vername", "ver", "ver2",
    "debug", "usetype", "utype", "mac", "hardwareid", "ip", "projectid", "prjfullpath",
    "prjtext", "prjedocnt", "prjsize", "prjcost", "regionrule", "major", "duration",
    "sessionid"};

constexpr std::string_view Seq = "seq";
constexpr std::string_view Attrs = "attrs";

// Index of a protocol field, -1 for any other name; `guess` (where the field
// stands in a line as the log writes it) is tried first.
constexpr int indexOf(std::string_view name, int guess = 0)
{
    if (guess >= 0 && guess < Count && names[guess] == name)
        return guess;
    for (int i = 0; i < Count; ++i)
        if (names[i] == name)
            return i;
    return -1;
}

constexpr uint32_t bit(Field f) { return uint32_t(1) << f; }

} // namespace RecordFields

#endif // RECORDFIELDS_H
