#include "KelUbcHostTexts.h"

namespace KelUbcHostTexts {
namespace {

struct Text
{
    const char *source;
    const char16_t *chinese;
};

const Text consentTexts[] = {
    {Consent::Title, u"使用数据"},
    {Consent::Intro, u"本软件可以记录您的使用情况，以帮助改进软件。请选择允许它做什么。"
                     u"您可以随时在“使用数据”窗口中更改此选择。"},
    {Consent::Off, u"关闭：不记录任何内容，也不发送任何内容。"},
    {Consent::Local, u"仅保存在本机：您使用的命令（哪个命令、从何处、何时）、您的工作时间，以及您打开、保存和关闭的"
                     u"工程（包括其完整路径、大小和标识）的记录保存在本机的文件中。不发送任何内容。"},
    {Consent::Upload, u"保存在本机并发送：同样的记录保存在本机，并发送到产品团队的服务器，附带本机的摘要值"
                      u"（绝不包括本机的名称或地址）。工程路径只以摘要值发送，无法从中读出路径；"
                      u"绝不发送您文件的内容。"},
    {Consent::Locked, u"您的管理员已为本机设定此选择。"},
};

const Text dataTexts[] = {
    {Data::Title, u"使用数据"},
    {Data::Time, u"时间"},
    {Data::Command, u"命令"},
    {Data::Location, u"位置"},
    {Data::Records, u"本机保存的最近 %1 条记录："},
    {Data::NoUpload, u"本机不发送任何内容。"},
    {Data::Sent, u"已发送：%1 条记录，最后一次在 %2；等待发送：%3；已搁置：%4"},
    {Data::NotSent, u"已发送：尚无；等待发送：%1；已搁置：%2"},
    {Data::LastError, u"最近的错误：%1"},
    {Data::Export, u"导出..."},
    {Data::Erase, u"删除"},
    {Data::EraseQuestion, u"删除本机保存的全部使用数据？"},
    {Data::Erased, u"使用数据已删除。"},
    {Data::Close, u"关闭"},
    {Data::EraseServer, u"删除服务器上我的数据"},
    {Data::EraseServerQuestion, u"请求产品团队的服务器删除从本机发送的全部记录？请求中只包含本机的摘要。"},
    {Data::EraseServerSent, u"请求已收到。服务器管理员将删除这些记录。"},
    {Data::EraseServerFailed, u"请求未能发送：%1"},
    {Data::EraseServerUnknown, u"本机保存的记录中还没有本机的摘要：无法提出请求。"},
};

template <size_t N>
QString find(const Text (&texts)[N], const char *sourceText)
{
    for (const Text &text : texts)
        if (qstrcmp(sourceText, text.source) == 0)
            return QString::fromUtf16(text.chinese);
    return QString();
}

} // namespace

QString chinese(const char *context, const char *sourceText)
{
    if (qstrcmp(context, ConsentContext) == 0)
        return find(consentTexts, sourceText);
    if (qstrcmp(context, DataContext) == 0)
        return find(dataTexts, sourceText);
    return QString();
}

} // namespace KelUbcHostTexts
