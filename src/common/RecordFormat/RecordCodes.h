#ifndef RECORDCODES_H
#define RECORDCODES_H

// Function codes that KelUbc itself gives meaning to.

#include "RecordLabels.h"

#include <cstdint>
#include <string_view>

namespace RecordCodes {

// The records of the application's and the project's lifecycle, with the
// label each is named by.
struct Lifecycle
{
    const char *code;
    RecordLabels::Label label;
};
constexpr Lifecycle StartApp{"990001", RecordLabels::LabelStartApp};
constexpr Lifecycle CloseApp{"990002", RecordLabels::LabelCloseApp};
constexpr Lifecycle NewProject{"990003", RecordLabels::LabelNewProject};
constexpr Lifecycle OpenProject{"990004", RecordLabels::LabelOpenProject};
constexpr Lifecycle SaveProject{"990005", RecordLabels::LabelSaveProject};
constexpr Lifecycle CloseProject{"990006", RecordLabels::LabelCloseProject};
constexpr Lifecycle OpenApp{"990007", RecordLabels::LabelOpenApp};
constexpr Lifecycle lifecycle[] = {StartApp, CloseApp, NewProject, OpenProject, SaveProject, CloseProject, OpenApp};

constexpr bool isLifecycle(std::string_view code)
{
    for (const Lifecycle &l : lifecycle)
        if (code == l.code)
            return true;
    return false;
}

// Coded events the facade sends to the host's helper: idle for longer than
// the idle time, active again, and the edit count at a save.
constexpr uint64_t Idle = 580101002;
constexpr uint64_t Active = 580101003;
constexpr uint64_t EditCount = 580101004;
constexpr std::string_view IdleText = "580101002";
constexpr std::string_view ActiveText = "580101003";
constexpr std::string_view EditCountText = "580101004";

// Undo: an action the facade never records (the host's undo stack says more).
constexpr std::string_view Undo = "213036";

} // namespace RecordCodes

#endif // RECORDCODES_H
