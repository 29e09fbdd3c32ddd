#include "KelUbcDataDialog.h"

#include "KelUbcConsent.h"
#include "KelUbcHostTexts.h"
#include "RuvUbcHelper.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QSaveFile>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate(KelUbcHostTexts::DataContext, text);
}

// The last lines of a file, oldest first; reads at most its last 1 MiB.
QList<QByteArray> lastLines(const QString &path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 tail = 1 << 20;
    if (file.size() > tail)
        file.seek(file.size() - tail);
    QList<QByteArray> lines = file.readAll().split('\n');
    if (file.size() > tail && !lines.isEmpty())
        lines.removeFirst(); // cut by the seek
    lines.removeAll(QByteArray());
    return lines.mid(qMax(0, lines.size() - count));
}

RuvUbcHelper *publishedHelper()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property("RuvUbcHelper").value<RuvUbcHelper *>() : nullptr;
}

} // namespace

class KelUbcDataDialogPrivate
{
public:
    QPointer<KelUbcConsent> consent;
    QPointer<KelUbcUploader> uploader;
    QLabel *level = nullptr;
    QLabel *recordsTitle = nullptr;
    QTableWidget *records = nullptr;
    QLabel *upload = nullptr;

    QString logPath() const
    {
        return uploader && !uploader->logFilePath().isEmpty() ? uploader->logFilePath()
                                                              : RuvUbc::instance()->logFilePath();
    }
    QString uploadText() const;
};

QString KelUbcDataDialogPrivate::uploadText() const
{
    if (!uploader || (consent && !consent->uploads()))
        return tr(KelUbcHostTexts::Data::NoUpload);
    // The cursor is saved only after the server confirmed a batch.
    const QFileInfo cursor(uploader->cursorFilePath());
    QString text = cursor.exists()
            ? tr(KelUbcHostTexts::Data::Sent)
                      .arg(uploader->confirmedLines())
                      .arg(cursor.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                      .arg(uploader->waitingLines())
                      .arg(uploader->rejectedLines())
            : tr(KelUbcHostTexts::Data::NotSent).arg(uploader->waitingLines()).arg(uploader->rejectedLines());
    if (!uploader->lastError().isEmpty())
        text += QLatin1Char('\n') + tr(KelUbcHostTexts::Data::LastError).arg(uploader->lastError());
    return text;
}

KelUbcDataDialog::KelUbcDataDialog(KelUbcConsent *consent, KelUbcUploader *uploader, QWidget *parent)
    : QDialog(parent), d(new KelUbcDataDialogPrivate)
{
    d->consent = consent;
    d->uploader = uploader;
    setObjectName(QStringLiteral("kelUbcDataDialog"));
    setWindowTitle(tr(KelUbcHostTexts::Data::Title));
    auto *layout = new QVBoxLayout(this);
    d->level = new QLabel;
    d->level->setWordWrap(true);
    layout->addWidget(d->level);
    d->recordsTitle = new QLabel;
    layout->addWidget(d->recordsTitle);
    d->records = new QTableWidget(0, 3);
    d->records->setObjectName(QStringLiteral("records"));
    d->records->setHorizontalHeaderLabels({tr(KelUbcHostTexts::Data::Time), tr(KelUbcHostTexts::Data::Command),
                                           tr(KelUbcHostTexts::Data::Location)});
    d->records->horizontalHeader()->setStretchLastSection(true);
    d->records->verticalHeader()->hide();
    d->records->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(d->records, 1);
    d->upload = new QLabel;
    d->upload->setObjectName(QStringLiteral("upload"));
    d->upload->setWordWrap(true);
    layout->addWidget(d->upload);

    auto *buttons = new QDialogButtonBox;
    QPushButton *exportButton = buttons->addButton(tr(KelUbcHostTexts::Data::Export), QDialogButtonBox::ActionRole);
    QPushButton *erase = buttons->addButton(tr(KelUbcHostTexts::Data::Erase), QDialogButtonBox::DestructiveRole);
    QPushButton *close = buttons->addButton(tr(KelUbcHostTexts::Data::Close), QDialogButtonBox::RejectRole);
    exportButton->setObjectName(QStringLiteral("export"));
    erase->setObjectName(QStringLiteral("erase"));
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr(KelUbcHostTexts::Data::Export),
                                                          QStringLiteral("usage-data.jsonl"));
        if (!path.isEmpty())
            exportTo(path);
    });
    connect(erase, &QPushButton::clicked, this, [this] {
        if (QMessageBox::question(this, tr(KelUbcHostTexts::Data::Title), tr(KelUbcHostTexts::Data::EraseQuestion),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
            return;
        eraseAll();
        QMessageBox::information(this, tr(KelUbcHostTexts::Data::Title), tr(KelUbcHostTexts::Data::Erased));
    });
    if (uploader) {
        QPushButton *eraseServer = buttons->addButton(tr(KelUbcHostTexts::Data::EraseServer), QDialogButtonBox::DestructiveRole);
        eraseServer->setObjectName(QStringLiteral("eraseServer"));
        eraseServer->setAutoDefault(false);
        connect(eraseServer, &QPushButton::clicked, this, [this] {
            if (QMessageBox::question(this, tr(KelUbcHostTexts::Data::Title), tr(KelUbcHostTexts::Data::EraseServerQuestion),
                                      QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                != QMessageBox::Yes)
                return;
            if (!requestServerErasure())
                QMessageBox::information(this, tr(KelUbcHostTexts::Data::Title), tr(KelUbcHostTexts::Data::EraseServerUnknown));
        });
        // The answer comes later; the dialog may be gone by then.
        connect(uploader, &KelUbcUploader::erasureRequestFinished, this, [this](const QString &, bool accepted, const QString &error) {
            QMessageBox *box = new QMessageBox(QMessageBox::Information, tr(KelUbcHostTexts::Data::Title),
                                               accepted ? tr(KelUbcHostTexts::Data::EraseServerSent)
                                                        : tr(KelUbcHostTexts::Data::EraseServerFailed).arg(error),
                                               QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    }
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    // Enter closes; it never erases.
    exportButton->setAutoDefault(false);
    erase->setAutoDefault(false);
    close->setDefault(true);
    layout->addWidget(buttons);
    resize(720, 480);
    refresh();
}

KelUbcDataDialog::~KelUbcDataDialog()
{
    delete d;
}

void KelUbcDataDialog::refresh()
{
    d->level->setText(d->consent ? KelUbcConsent::levelText(d->consent->level()) : QString());
    d->level->setVisible(d->consent);
    const QList<QByteArray> lines = lastLines(d->logPath(), ShownRecords);
    d->records->setRowCount(0);
    // Newest first.
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QJsonObject record = QJsonDocument::fromJson(*it).object();
        if (record.isEmpty())
            continue; // a fragment or a foreign line
        const QDateTime time = QDateTime::fromString(record.value(QLatin1String("trigertime")).toString(),
                                                     Qt::ISODateWithMs);
        const QString command = QStringLiteral("%1 (%2)").arg(record.value(QLatin1String("fnname")).toString(),
                                                              record.value(QLatin1String("fncode")).toString());
        const QString location = record.value(QLatin1String("attrs")).toObject()
                                         .value(QLatin1String("location")).toString();
        const int row = d->records->rowCount();
        d->records->insertRow(row);
        d->records->setItem(row, 0, new QTableWidgetItem(time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        d->records->setItem(row, 1, new QTableWidgetItem(command));
        d->records->setItem(row, 2, new QTableWidgetItem(location));
    }
    d->records->resizeColumnsToContents();
    d->recordsTitle->setText(tr(KelUbcHostTexts::Data::Records).arg(d->records->rowCount()));
    d->upload->setText(d->uploadText());
}

bool KelUbcDataDialog::exportTo(const QString &path)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QStringList sources{d->logPath()};
    if (RuvUbcHelper *helper = publishedHelper())
        sources << helper->journalPath();
    for (const QString &source : qAsConst(sources)) {
        QFile in(source);
        if (source.isEmpty() || !in.open(QIODevice::ReadOnly))
            continue;
        // Whole lines only: a line still being written stays out.
        while (!in.atEnd()) {
            const QByteArray line = in.readLine();
            if (line.endsWith('\n'))
                out.write(line);
        }
    }
    return out.commit();
}

bool KelUbcDataDialog::requestServerErasure()
{
    if (!d->uploader)
        return false;
    QStringList digests;
    for (const QByteArray &line : lastLines(d->logPath(), ShownRecords)) {
        const QString gid = QJsonDocument::fromJson(line).object().value(QLatin1String("gid")).toString();
        if (!gid.isEmpty() && !digests.contains(gid))
            digests << gid;
    }
    bool sent = false;
    for (const QString &gid : qAsConst(digests))
        sent = d->uploader->requestErasure(gid) || sent;
    return sent;
}

bool KelUbcDataDialog::eraseAll()
{
    bool gone = RuvUbc::instance()->eraseLogFiles();
    if (RuvUbcHelper *helper = publishedHelper())
        gone = helper->eraseJournal() && gone;
    const QString log = d->logPath();
    QStringList files{log + QStringLiteral(".cursor"), log + QStringLiteral(".rejected")};
    if (d->uploader)
        files << d->uploader->cursorFilePath() << d->uploader->deadLetterFilePath();
    for (const QString &file : qAsConst(files))
        if (!file.isEmpty() && !QFile::remove(file) && QFile::exists(file))
            gone = false;
    refresh();
    return gone;
}
