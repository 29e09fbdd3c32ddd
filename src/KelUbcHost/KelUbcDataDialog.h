#ifndef KELUBCDATADIALOG_H
#define KELUBCDATADIALOG_H

#include "KelUbcHostWidgetsGlobal.h"

#include <QtWidgets/QDialog>

class KelUbcConsent;
class KelUbcUploader;
class KelUbcDataDialogPrivate;

// What is collected, for the person who uses the host: the consent level in
// force, the latest records of the behaviour log (time, command, location),
// what the uploader sent and when, and buttons to export the local data as
// JSON lines and to erase it. In the language of the installed
// KelUbcTranslator (texts under the context "KelUbcDataDialog").
//
//     KelUbcDataDialog dialog(consent, uploader, &window);   // either may be null
//     dialog.exec();
//
// Erasing removes the record log and its mirrors (RuvUbc::eraseLogFiles), the
// journal of the published RuvUbcHelper, and the uploader's cursor and
// dead-letter files beside the log. Records logged meanwhile are kept in new
// files; the library goes on working. With an uploader, a second button asks
// the server to erase what was sent (KelUbcUploader::requestErasure), naming
// the machine by the digest its records carry.
class KELUBCHOSTWIDGETS_EXPORT KelUbcDataDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ShownRecords = 200;

    explicit KelUbcDataDialog(KelUbcConsent *consent, KelUbcUploader *uploader, QWidget *parent = nullptr);
    ~KelUbcDataDialog() override;

public Q_SLOTS:
    void refresh();
    // The record log's lines, then the journal's, into one file; true when written.
    bool exportTo(const QString &path);
    // Without asking; true when no file is left.
    bool eraseAll();
    // Without asking: one erasure request per machine digest in the latest
    // records; false when there is no uploader or no digest to name.
    bool requestServerErasure();

private:
    Q_DISABLE_COPY(KelUbcDataDialog)
    KelUbcDataDialogPrivate *d;
};

#endif // KELUBCDATADIALOG_H
