#include "CsvReader.h"

class CsvReaderPrivate
{
public:
    bool fail(int line, const QString &message)
    {
        records.clear();
        errorLine = line;
        errorString = message;
        return false;
    }

    QVector<CsvReader::Record> records;
    QString errorString;
    int errorLine = 0;
};

namespace {

const QChar Quote = QLatin1Char('"');
const QChar Comma = QLatin1Char(',');
const QChar Cr = QLatin1Char('\r');
const QChar Lf = QLatin1Char('\n');

bool isBreak(QChar c) { return c == Cr || c == Lf; }

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms, surrogates and code points past U+10FFFF included), or -1.
int invalidUtf8Offset(const QByteArray &data)
{
    const int n = data.size();
    for (int i = 0; i < n;) {
        const uchar b = uchar(data.at(i));
        int need;
        uint cp;
        uint min;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            need = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            need = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            need = 3, cp = b & 0x07, min = 0x10000;
        } else {
            return i;
        }
        if (n - i <= need)
            return i;
        for (int k = 1; k <= need; ++k) {
            const uchar c = uchar(data.at(i + k));
            if ((c & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += need + 1;
    }
    return -1;
}

// Line number of a byte offset, counting breaks the way the parser does.
int lineAt(const QByteArray &data, int offset)
{
    int line = 1;
    for (int i = 0; i < offset; ++i) {
        if (data.at(i) == '\n' || (data.at(i) == '\r' && (i + 1 >= data.size() || data.at(i + 1) != '\n')))
            ++line;
    }
    return line;
}

} // namespace

CsvReader::CsvReader()
    : d(new CsvReaderPrivate)
{
}

CsvReader::~CsvReader() = default;

bool CsvReader::parse(const QByteArray &data)
{
    d->records.clear();
    d->errorString.clear();
    d->errorLine = 0;

    // A NUL is valid UTF-8 but no dictionary text, and QString::fromUtf8(QByteArray)
    // would silently stop at it.
    const int nul = data.indexOf('\0');
    const int bad = invalidUtf8Offset(nul < 0 ? data : data.left(nul));
    if (bad >= 0)
        return d->fail(lineAt(data, bad), QStringLiteral("invalid UTF-8 (byte 0x%1)")
                                              .arg(uchar(data.at(bad)), 2, 16, QLatin1Char('0')));
    if (nul >= 0)
        return d->fail(lineAt(data, nul), QStringLiteral("NUL byte (0x00); a dictionary holds text only"));
    QString text = QString::fromUtf8(data.constData(), data.size());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const int n = text.size();
    int i = 0;
    int line = 1;
    auto consumeBreak = [&] {
        if (text.at(i) == Cr && i + 1 < n && text.at(i + 1) == Lf)
            ++i;
        ++i;
        ++line;
    };

    while (i < n) {
        if (isBreak(text.at(i))) { // empty line
            consumeBreak();
            continue;
        }
        Record record;
        record.line = line;
        for (;;) {
            if (i < n && text.at(i) == Quote) {
                const int openLine = line;
                QString field(QLatin1String(""));
                ++i;
                for (;;) {
                    if (i >= n)
                        return d->fail(openLine, QStringLiteral("unterminated quoted field"));
                    const QChar c = text.at(i);
                    if (c == Quote) {
                        if (i + 1 < n && text.at(i + 1) == Quote) {
                            field += Quote;
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == Lf || (c == Cr && (i + 1 >= n || text.at(i + 1) != Lf)))
                        ++line;
                    field += c;
                    ++i;
                }
                if (i < n && text.at(i) != Comma && !isBreak(text.at(i)))
                    return d->fail(line, QStringLiteral("unexpected text after a closing quote"));
                record.fields << field;
            } else {
                const int start = i;
                while (i < n && text.at(i) != Comma && !isBreak(text.at(i))) {
                    if (text.at(i) == Quote)
                        return d->fail(line, QStringLiteral("quote inside an unquoted field "
                                                            "(quote the whole field and double the quote)"));
                    ++i;
                }
                record.fields << (i == start ? QString() : text.mid(start, i - start));
            }
            if (i < n && text.at(i) == Comma) {
                ++i;
                continue;
            }
            break;
        }
        if (i < n)
            consumeBreak();
        d->records << record;
    }
    return true;
}

QVector<CsvReader::Record> CsvReader::records() const { return d->records; }
QString CsvReader::errorString() const { return d->errorString; }
int CsvReader::errorLine() const { return d->errorLine; }
