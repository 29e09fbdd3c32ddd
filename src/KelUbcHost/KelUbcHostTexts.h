#ifndef KELUBCHOSTTEXTS_H
#define KELUBCHOSTTEXTS_H

//
//  W A R N I N G
//  -------------
// Not part of the public API: the host kit's English source texts, shared by
// the code that shows them and the translator that knows their Chinese.
//

#include <QtCore/QString>

namespace KelUbcHostTexts {

constexpr char ConsentContext[] = "KelUbcConsent";
constexpr char DataContext[] = "KelUbcDataDialog";

namespace Consent {
constexpr char Title[] = "Usage data";
constexpr char Intro[] =
        "This application can keep records of how you use it, to help improve it. Choose what it may do. "
        "You can change your choice at any time in the usage data window.";
constexpr char Off[] = "Off: nothing is recorded and nothing is sent.";
constexpr char Local[] =
        "On this computer only: records of the commands you use (which command, from where and when), "
        "your working time, and the projects you open, save and close, with their full paths, sizes and "
        "ids, are kept in files on this computer. Nothing is sent.";
constexpr char Upload[] =
        "On this computer and sent: the same records are kept on this computer and also sent to the "
        "product team's server, with a digest of this computer (never its name or address). Project paths "
        "are sent only as digests, from which the path cannot be read; the contents of your files are "
        "never sent.";
constexpr char Locked[] = "Your administrator has set this choice for this computer.";
} // namespace Consent

namespace Data {
constexpr char Title[] = "Usage data";
constexpr char Time[] = "Time";
constexpr char Command[] = "Command";
constexpr char Location[] = "Location";
constexpr char Records[] = "The latest %1 records kept on this computer:";
constexpr char NoUpload[] = "Nothing is sent from this computer.";
constexpr char Sent[] = "Sent: %1 records, last at %2; waiting: %3; set aside: %4";
constexpr char NotSent[] = "Sent: none yet; waiting: %1; set aside: %2";
constexpr char LastError[] = "Last error: %1";
constexpr char Export[] = "Export...";
constexpr char Erase[] = "Erase";
constexpr char EraseQuestion[] = "Erase all usage data kept on this computer?";
constexpr char Erased[] = "Usage data erased.";
constexpr char Close[] = "Close";
constexpr char EraseServer[] = "Erase my data on the server";
constexpr char EraseServerQuestion[] =
        "Ask the product team's server to erase every record sent from this computer? "
        "The request carries only this computer's digest.";
constexpr char EraseServerSent[] = "The request was received. The server's operator erases the records.";
constexpr char EraseServerFailed[] = "The request could not be sent: %1";
constexpr char EraseServerUnknown[] = "No record kept on this computer names it yet: there is nothing to ask for.";
} // namespace Data

// The Chinese of one of these source texts in its context; null for any other.
QString chinese(const char *context, const char *sourceText);

} // namespace KelUbcHostTexts

#endif // KELUBCHOSTTEXTS_H
