#include "JournalRowWriter.h"

#include <cstdio>

JournalRowWriter::JournalRowWriter() = default;

JournalRowWriter::~JournalRowWriter() = default;

bool JournalRowWriter::append(const char *data, int size, QByteArray &out)
{
    JournalEvent &e = m_event;
    if (m_reader.read(data, size_t(size), size_t(size) + Padding, e))
        return false;
    out.append("{\"pcode\":", 9);
    putString(out, e.pcode);
    out.append(",\"gid\":", 7);
    putString(out, e.gid);
    out.append(",\"sessionid\":", 13);
    putString(out, e.sessionid);
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, ",\"seq\":%llu", static_cast<unsigned long long>(e.seq));
    out.append(digits, n);
    out.append(",\"code\":", 8);
    putString(out, e.code);
    out.append(",\"eventtime\":", 13);
    putString(out, e.time);
    putAttrs(out, e.attrs);
    putTime(out, e.time);
    out.append("}\n", 2);
    return true;
}
