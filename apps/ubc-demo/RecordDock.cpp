#include "RecordDock.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtCore/QPointer>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QVBoxLayout>

RecordDock::RecordDock(const QString &title, QWidget *parent)
    : QDockWidget(title, parent),
      m_upload(new QLabel),
      m_view(new QPlainTextEdit)
{
    setObjectName(QStringLiteral("recordDock"));
    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(2000);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_upload->setObjectName(QStringLiteral("uploadStatus"));
    m_upload->hide();
    auto *box = new QWidget(this);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_upload);
    layout->addWidget(m_view);
    setWidget(box);
    // The log calls listeners in the thread that logs; the dock is touched
    // in its own thread only.
    QPointer<RecordDock> self(this);
    m_listener = RuvUbc::instance()->addListener([self](const UbcDataProtocol &record) {
        const QString line = describe(record);
        if (self)
            QMetaObject::invokeMethod(self, [self, line] { if (self) self->append(line); });
    });
}

RecordDock::~RecordDock()
{
    RuvUbc::instance()->removeListener(m_listener);
}

void RecordDock::showUpload(KelUbcUploader *uploader)
{
    m_upload->show();
    setUploadStatus(uploader->confirmedLines(), uploader->waitingLines(), uploader->lastError());
    connect(uploader, &KelUbcUploader::statusChanged, this, &RecordDock::setUploadStatus);
}

QString RecordDock::uploadStatus() const
{
    return m_upload->text();
}

void RecordDock::setUploadStatus(quint64 confirmed, quint64 waiting, const QString &error)
{
    QString text = QStringLiteral("Upload: %1 confirmed, %2 waiting").arg(confirmed).arg(waiting);
    if (!error.isEmpty())
        text += QStringLiteral("; last error: ") + error;
    m_upload->setText(text);
}

void RecordDock::append(const QString &line)
{
    ++m_count;
    m_view->appendPlainText(line);
}

QString RecordDock::describe(const UbcDataProtocol &record)
{
    QStringList attrs;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it)
        attrs << it.key() + QLatin1Char('=') + it.value();
    QString line = record.trigertime.mid(11, 8) + QLatin1Char(' ') + record.fncode + QLatin1Char(' ')
                   + record.fnname + QStringLiteral(" [") + record.fngroup + QLatin1Char(']');
    if (!record.duration.isEmpty())
        line += QStringLiteral(" duration=") + record.duration + QLatin1Char('s');
    if (!attrs.isEmpty())
        line += QStringLiteral(" {") + attrs.join(QStringLiteral(", ")) + QLatin1Char('}');
    return line;
}
