// ubc-report's file source: any bytes as a record log are read without a
// crash, every line ends up counted once (a record, a duplicate, filtered out,
// malformed or blank), and the HTML page made from them is well-formed XML.

#include "FuzzSupport.h"

#include <FileSource.h>
#include <HtmlReport.h>
#include <Summary.h>

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QXmlStreamReader>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    {
        QFile f(path);
        fuzz::check(f.open(QIODevice::WriteOnly | QIODevice::Truncate)
                        && f.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
                    "cannot write the log");
    }
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    int64_t blank = 0;
    for (const QByteArray &line : bytes.split('\n'))
        blank += line.isEmpty() || line == "\r";
    if (bytes.isEmpty() || bytes.endsWith('\n'))
        --blank; // the empty text after the last newline is no line

    FileSource source{ReportFilter{}};
    fuzz::check(source.readLogs({path}) && source.readTimeline(), "read failed");
    const FileSource::Stats st = source.stats();
    fuzz::check(st.records + st.duplicates + st.malformed + blank == st.lines, "a line was lost or counted twice");
    const UbcReport::Aggregates a = source.aggregates();
    int64_t records = 0;
    for (const auto &s : a.sessions)
        records += s.second.records;
    fuzz::check(records == st.records, "sessions disagree with the record count");

    Summary summary;
    QString error;
    fuzz::check(Summary::build(a, Summary::Options(), &summary, &error), "summary failed");
    QXmlStreamReader xml(HtmlReport::render(summary));
    while (!xml.atEnd())
        xml.readNext();
    fuzz::check(!xml.hasError(), "the HTML is not well-formed", xml.errorString());
    return 0;
}
