#ifndef RECORDLABELS_H
#define RECORDLABELS_H

// The labels that KelUbc's records and locations carry. KelUbc hands each
// source text, GBK bytes as they stand, to translate() under the context
// "KelUbc"; the shipped translator decodes them and knows their English, so a
// log holds either the Chinese or the English text. Readers find the label by
// either and name it by its key. New labels go at the end: the indices are
// the facade's.

#include <string_view>

struct RecordLabels
{
    enum Label {
        LabelSpecialFunction, LabelStartApp, LabelOpenApp, LabelCloseApp,
        LabelOpenProject, LabelNewProject, LabelSaveProject, LabelCloseProject,
        LabelRibbonToolbar, LabelContextMenu, LabelViewPanel, LabelShortcut,
        LabelRibbonQuickBar, LabelProperty, LabelToolbar, LabelMenuBar,
        LabelCount
    };
    enum Language { Chinese, English };
    struct Text
    {
        const char *source;  // GBK, what the library hands to translate()
        const char *chinese; // UTF-8, what the translator makes of it
        const char *english;
        const char *key;     // the report's name for it
        bool location;       // where an action was started
    };
    static constexpr Text labelTexts[LabelCount] = {
        {"\xcc\xd8\xca\xe2\xb9\xa6\xc4\xdc", "特殊功能", "Special function", "specialFunction", false},
        {"\xc6\xf4\xb6\xaf\xc8\xed\xbc\xfe", "启动软件", "Start software", "startApp", false},
        {"\xb4\xf2\xbf\xaa\xc8\xed\xbc\xfe", "打开软件", "Open software", "openApp", false},
        {"\xb9\xd8\xb1\xd5\xc8\xed\xbc\xfe", "关闭软件", "Close software", "closeApp", false},
        {"\xb4\xf2\xbf\xaa\xb9\xa4\xb3\xcc", "打开工程", "Open project", "openProject", false},
        {"\xd0\xc2\xbd\xa8\xb9\xa4\xb3\xcc", "新建工程", "New project", "newProject", false},
        {"\xb1\xa3\xb4\xe6\xb9\xa4\xb3\xcc", "保存工程", "Save project", "saveProject", false},
        {"\xb9\xd8\xb1\xd5\xb9\xa4\xb3\xcc", "关闭工程", "Close project", "closeProject", false},
        {"Ribbon\xb9\xa4\xbe\xdf\xc0\xb8", "Ribbon工具栏", "Ribbon toolbar", "ribbon", true},
        {"\xd3\xd2\xbc\xfc", "右键", "Right-click menu", "contextMenu", true},
        {"\xca\xd3\xcd\xbc\xc3\xe6\xb0\xe5", "视图面板", "View panel", "viewPanel", true},
        {"\xbf\xec\xbd\xdd\xbc\xfc", "快捷键", "Shortcut key", "shortcut", true},
        {"Ribbon\xbf\xec\xbd\xdd\xc0\xb8", "Ribbon快捷栏", "Ribbon quick-access bar", "quickAccess", true},
        {"\xca\xf4\xd0\xd4", "属性", "Property", "property", false},
        {"\xb9\xa4\xbe\xdf\xc0\xb8", "工具栏", "Toolbar", "toolbar", true},
        {"\xb2\xcb\xb5\xa5\xc0\xb8", "菜单栏", "Menu bar", "menuBar", true},
    };

    static constexpr const char *labelSource(Label label) { return labelTexts[label].source; }

    // The label whose Chinese or English text this is, and which of the two;
    // -1 for any other text.
    static constexpr int find(std::string_view text, Language *language = nullptr)
    {
        for (int i = 0; i < LabelCount; ++i) {
            for (Language l : {Chinese, English}) {
                if (text == (l == Chinese ? labelTexts[i].chinese : labelTexts[i].english)) {
                    if (language)
                        *language = l;
                    return i;
                }
            }
        }
        return -1;
    }
};

#endif // RECORDLABELS_H
