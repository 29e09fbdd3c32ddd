#ifndef RECORDDOCK_H
#define RECORDDOCK_H

#include <QtWidgets/QDockWidget>

class KelUbcUploader;
class QLabel;
class QPlainTextEdit;
struct UbcDataProtocol;

// Shows each behaviour record as the log writes it, and the upload's progress.
class RecordDock : public QDockWidget
{
    Q_OBJECT
public:
    explicit RecordDock(const QString &title, QWidget *parent = nullptr);
    ~RecordDock() override;

    int recordCount() const { return m_count; }
    // Shows the upload's figures above the records while the uploader lives.
    void showUpload(KelUbcUploader *uploader);
    QString uploadStatus() const;

private:
    void append(const QString &line);
    static QString describe(const UbcDataProtocol &record);

    void setUploadStatus(quint64 confirmed, quint64 waiting, const QString &error);

    QLabel *m_upload;
    QPlainTextEdit *m_view;
    int m_listener;
    int m_count = 0;
};

#endif // RECORDDOCK_H
