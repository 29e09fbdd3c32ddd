#ifndef RECORDGENERATOR_H
#define RECORDGENERATOR_H

#include <RuvUbc.h>

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <memory>

// Made-up records, written as RuvUbc writes them, for ubc-upload --generate,
// the benchmarks and the tests.
class RecordGenerator
{
public:
    enum Profile {
        // Actions on six commands, from `machines` machines, one session each;
        // the rest of each record is `base`.
        Actions,
        // Sessions of a few hundred records on a few hundred machines, each
        // opening, editing, saving and closing a project: what a report reads.
        Sessions,
    };
    struct Options
    {
        Profile profile = Actions;
        qint64 count = 0;
        int machines = 1;      // Actions
        UbcDataProtocol base;  // Actions
        // Without "seq", as another behaviour-log library, or RuvUbc before
        // it numbered its records, writes the protocol's fields.
        bool withSeq = true;
    };

    explicit RecordGenerator(const Options &options);
    ~RecordGenerator();

    // Appends the next record's line to out; false once count lines were made.
    bool next(QByteArray &out);

    // Appends all the lines to the file at path; false if it cannot be written.
    static bool appendTo(const QString &path, const Options &options);

    // The line without its "seq" member.
    static QByteArray withoutSeq(const QByteArray &line);

private:
    struct State;
    std::unique_ptr<State> d;
};

#endif // RECORDGENERATOR_H
