#include "JsonReport.h"
#include "JsonWriter.h"
#include "Summary.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtTest>

#include <variant>

// The streaming writer against QJsonDocument's own indented output.
class TestJsonWriter : public QObject
{
    Q_OBJECT

    using Scalar = std::variant<QString, qint64, double, bool>;

    static const QStringList &awkwardStrings()
    {
        static const QStringList s{
            QStringLiteral("plain"), QStringLiteral("quote \" and backslash \\ and slash /"),
            QStringLiteral("tab\tline\nreturn\rback\bfeed\f"), QString(QChar(0x01)) + QChar(0x1f) + QChar(0x7f),
            QStringLiteral("保存 项目"), QStringLiteral("\U0001F600 outside the BMP"), QString()};
        return s;
    }

    // Line by line, so that a failure shows the line that differs.
    static void sameLines(const QByteArray &actual, const QByteArray &expected)
    {
        QCOMPARE(actual.split('\n'), expected.split('\n'));
    }

private slots:
    void scalarsAndLayoutMatchQJsonDocument()
    {
        QList<Scalar> values(awkwardStrings().cbegin(), awkwardStrings().cend());
        values << 0.1 << 1e-7 << 2.5 << 3.0 << -0.0 << 1e20 << 123456789.125 << 1.0 / 3 << qint64(0) << qint64(-42)
               << qint64(9007199254740993) << true << false;
        QJsonArray expected;
        QByteArray out;
        JsonWriter w(&out);
        w.beginArray();
        for (const Scalar &v : values)
            std::visit([&](auto x) { expected.append(QJsonValue(x)); w.value(x); }, v);
        // Nested and empty containers, members in key order.
        w.beginObject();
        w.key("a").beginArray();
        w.endArray();
        w.key("b").beginObject();
        w.endObject();
        w.key("c").null();
        w.key("d").beginObject();
        w.key("e").value(QLatin1String("x"));
        w.endObject();
        w.endObject();
        w.beginArray();
        w.endArray();
        w.endArray();
        expected.append(QJsonObject{{QStringLiteral("d"), QJsonObject{{QStringLiteral("e"), QStringLiteral("x")}}},
                                    {QStringLiteral("a"), QJsonArray()}, {QStringLiteral("b"), QJsonObject()},
                                    {QStringLiteral("c"), QJsonValue()}});
        expected.append(QJsonArray());
        sameLines(out, QJsonDocument(expected).toJson(QJsonDocument::Indented));
    }

    void reportMatchesQJsonDocument()
    {
        // Every section with rows, awkward text and doubles; the document
        // QJsonDocument makes of the same data must come out the same.
        Summary s;
        s.language = QStringLiteral("zh");
        const QStringList &text = awkwardStrings();
        for (int i = 0; i < text.size(); ++i) {
            const QString &t = text[i];
            s.sessions.push_back({t, t, t, t, 3600 + i, i % 2 == 0, 100000000000LL + i, i, i});
            Summary::Command c{t, t, t, i, i, i, i, i % 2 ? 0.1 : 3.0, {}, i, i};
            c.byLocation[1] = 1LL << 40;
            s.commands.push_back(c);
            s.lifecycle.push_back({t, t, i});
            s.labels.push_back({t, UbcReport::Location(i % UbcReport::LocationCount), i});
            s.properties.push_back({t, i});
            s.projects.push_back({t, t, t, 1, 2, 3, 4, 5, 6, 7});
            s.statistics.sent.push_back({t, t, i, i, i, i, 1e-7 * i});
            s.versions.push_back({t, 1, 2, 3, 4, 2.5, 5, 6});
            s.daily.push_back({t, 1, 2, 3});
            s.timeline.events.push_back({i, i == 1 ? ~uint64_t(0) : uint64_t(i), t, t, UbcReport::RecordKind(0), UbcReport::NoLocation});
            s.completeness.byDay.push_back({t, 1, 2, 3, 4, 0.75});
            s.completeness.gaps.push_back({t, t, t, t, 5, 4});
        }
        s.shortcutGaps = {0, 2};
        s.locations[0] = {7, 0.1};
        s.statistics.idleReturnsPerHour = 1.0 / 3;
        s.timeline.truncated = true;
        s.completeness.uploadLosses = std::vector<Summary::Loss>{{QStringLiteral("queue_dropped"), 8}};
        s.period = {text[1], text[2], text[4], text[0], text[6]};
        s.dictionary = Summary::Dictionary{text[4], 10, 3, {{text[2], text[4], text[1]}}};
        s.input.files = text;
        s.input.codedFiles = QStringList{text[3]};

        const QByteArray streamed = JsonReport::render(s);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(streamed, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc.object().value(QStringLiteral("sessions")).toArray().size(), text.size());
        sameLines(streamed, doc.toJson(QJsonDocument::Indented));
        if (QTest::currentTestFailed())
            return;
        // The server input's other keys.
        s.input.fromServer = true;
        s.input.url = text[1];
        s.dictionary.reset();
        s.completeness.uploadLosses.reset();
        const QByteArray server = JsonReport::render(s);
        sameLines(server, QJsonDocument::fromJson(server).toJson(QJsonDocument::Indented));
    }
};

QTEST_GUILESS_MAIN(TestJsonWriter)
#include "tst_jsonwriter.moc"
