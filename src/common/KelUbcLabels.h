#ifndef KELUBCLABELS_H
#define KELUBCLABELS_H

//
//  W A R N I N G
//  -------------
// Not part of the public API: shared by KelUbc and KelUbcTranslator only.
//

// The labels that KelUbc's records and locations carry. KelUbc hands each
// source text, GBK bytes as they stand, to translate() under the context
// "KelUbc"; the shipped translator decodes them and knows their English.
struct KelUbcLabels
{
    enum Label {
        LabelSpecialFunction, LabelStartApp, LabelOpenApp, LabelCloseApp,
        LabelOpenProject, LabelNewProject, LabelSaveProject, LabelCloseProject,
        LabelRibbonToolbar, LabelContextMenu, LabelViewPanel, LabelShortcut,
        LabelRibbonQuickBar, LabelProperty,
        LabelToolbar, LabelMenuBar,
        LabelCount
    };
    struct Text
    {
        const char *source; // GBK
        const char *english;
    };
    static constexpr Text labelTexts[LabelCount] = {
        {"\xcc\xd8\xca\xe2\xb9\xa6\xc4\xdc", "Special function"},    // 特殊功能
        {"\xc6\xf4\xb6\xaf\xc8\xed\xbc\xfe", "Start software"},      // 启动软件
        {"\xb4\xf2\xbf\xaa\xc8\xed\xbc\xfe", "Open software"},       // 打开软件
        {"\xb9\xd8\xb1\xd5\xc8\xed\xbc\xfe", "Close software"},      // 关闭软件
        {"\xb4\xf2\xbf\xaa\xb9\xa4\xb3\xcc", "Open project"},        // 打开工程
        {"\xd0\xc2\xbd\xa8\xb9\xa4\xb3\xcc", "New project"},         // 新建工程
        {"\xb1\xa3\xb4\xe6\xb9\xa4\xb3\xcc", "Save project"},        // 保存工程
        {"\xb9\xd8\xb1\xd5\xb9\xa4\xb3\xcc", "Close project"},       // 关闭工程
        {"Ribbon\xb9\xa4\xbe\xdf\xc0\xb8", "Ribbon toolbar"},        // Ribbon工具栏
        {"\xd3\xd2\xbc\xfc", "Right-click menu"},                    // 右键
        {"\xca\xd3\xcd\xbc\xc3\xe6\xb0\xe5", "View panel"},          // 视图面板
        {"\xbf\xec\xbd\xdd\xbc\xfc", "Shortcut key"},                // 快捷键
        {"Ribbon\xbf\xec\xbd\xdd\xc0\xb8", "Ribbon quick-access bar"}, // Ribbon快捷栏
        {"\xca\xf4\xd0\xd4", "Property"},                            // 属性
        {"\xb9\xa4\xbe\xdf\xc0\xb8", "Toolbar"},                      // 工具栏
        {"\xb2\xcb\xb5\xa5\xc0\xb8", "Menu bar"},                     // 菜单栏
    };
    static constexpr const char *labelSource(Label label) { return labelTexts[label].source; }
};

#endif // KELUBCLABELS_H
