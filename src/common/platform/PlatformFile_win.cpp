#include "PlatformFile.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QRandomGenerator>
#include <QtCore/QStringList>

#include <qt_windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE toHandle(qintptr h)
{
    return reinterpret_cast<HANDLE>(h);
}

const wchar_t *wide(const QByteArray &native)
{
    return reinterpret_cast<const wchar_t *>(native.constData());
}

// The current user's SID, read once from the process token.
class UserSid
{
public:
    UserSid()
    {
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        if (!size || !GetTokenInformation(token, TokenUser, m_user.data(), size, &size))
            m_user.clear();
        size = 0;
        GetTokenInformation(token, TokenOwner, nullptr, 0, &size);
        m_owner.resize(size);
        if (!size || !GetTokenInformation(token, TokenOwner, m_owner.data(), size, &size))
            m_owner.clear();
        CloseHandle(token);
    }
    PSID user() const { return m_user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER *>(m_user.data())->User.Sid; }
    // Whom new objects belong to: the user, or for an elevated member of
    // the administrators the Administrators group.
    PSID defaultOwner() const
    {
        return m_owner.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER *>(m_owner.data())->Owner;
    }

private:
    std::vector<char> m_user;
    std::vector<char> m_owner;
};

const UserSid &userSid()
{
    // Never destroyed: the library's teardown, after static destructors have
    // run, still makes folders and opens files for what waits.
    static const UserSid *const sid = new UserSid;
    return *sid;
}

// Security attributes whose DACL grants the current user alone, not
// inheriting from the parent folder: the 0600/0700 of a POSIX system.
class OwnerOnly
{
public:
    explicit OwnerOnly(bool folder)
    {
        PSID sid = userSid().user();
        if (!sid)
            return;
        const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
        m_acl.resize(aclSize);
        PACL acl = reinterpret_cast<PACL>(m_acl.data());
        const DWORD inherit = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
        if (!InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION)
            || !InitializeAcl(acl, aclSize, ACL_REVISION)
            || !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, sid)
            || !SetSecurityDescriptorDacl(&m_sd, TRUE, acl, FALSE)
            || !SetSecurityDescriptorControl(&m_sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return;
        m_sa.nLength = sizeof m_sa;
        m_sa.lpSecurityDescriptor = &m_sd;
        m_sa.bInheritHandle = FALSE;
        m_ok = true;
    }
    SECURITY_ATTRIBUTES *attributes() { return m_ok ? &m_sa : nullptr; }
    bool ok() const { return m_ok; }

private:
    std::vector<char> m_acl;
    SECURITY_DESCRIPTOR m_sd;
    SECURITY_ATTRIBUTES m_sa;
    bool m_ok = false;
};

bool ownedByUser(HANDLE h)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd)
        != ERROR_SUCCESS)
        return false;
    const UserSid &me = userSid();
    const bool mine = owner && ((me.user() && EqualSid(owner, me.user()))
                                || (me.defaultOwner() && EqualSid(owner, me.defaultOwner())));
    LocalFree(sd);
    return mine;
}

} // namespace

QByteArray PlatformFile::nativePath(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    // UTF-16 with its terminating zero, as the wide calls take it.
    return QByteArray(reinterpret_cast<const char *>(native.utf16()), int((native.size() + 1) * sizeof(wchar_t)));
}

bool PlatformFile::fail()
{
    m_error = int(GetLastError());
    switch (m_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: m_failure = NotFound; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: m_failure = NoSpace; break;
    default: m_failure = OtherFailure; break;
    }
    return false;
}

bool PlatformFile::openHandle(const QByteArray &native, unsigned long access, unsigned long disposition,
                              bool ownerOnly, Links links)
{
    close();
    OwnerOnly security(false);
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction itself, which the
    // attribute check then refuses.
    HANDLE h = CreateFileW(wide(native), access | FILE_READ_ATTRIBUTES, kShareAll,
                           ownerOnly ? security.attributes() : nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | (links == RefuseLinks ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail();
    m_handle = reinterpret_cast<qintptr>(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (links == RefuseLinks && GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        close();
        m_error = ERROR_CANT_ACCESS_FILE;
        m_failure = Link;
        return false;
    }
    return true;
}

bool PlatformFile::openAppend(const QByteArray &native)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file.
    return openHandle(native, FILE_APPEND_DATA | READ_CONTROL | SYNCHRONIZE, OPEN_ALWAYS, true, RefuseLinks);
}

bool PlatformFile::openRead(const QByteArray &native, Links links)
{
    return openHandle(native, GENERIC_READ | READ_CONTROL, OPEN_EXISTING, false, links);
}

bool PlatformFile::openLock(const QByteArray &native)
{
    return openHandle(native, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, true, RefuseLinks);
}

bool PlatformFile::tryLock()
{
    OVERLAPPED at = {};
    return LockFileEx(toHandle(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at)
           || fail();
}

void PlatformFile::unlock()
{
    OVERLAPPED at = {};
    UnlockFileEx(toHandle(m_handle), 0, MAXDWORD, MAXDWORD, &at);
}

void PlatformFile::close()
{
    if (m_handle != Invalid) {
        CloseHandle(toHandle(m_handle));
        m_handle = Invalid;
    }
}

bool PlatformFile::status(Status *status)
{
    HANDLE h = toHandle(m_handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return fail();
    status->id = {info.dwVolumeSerialNumber, (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    status->size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    status->links = info.nNumberOfLinks;
    // Removed while others hold it open: the name lingers until the last
    // handle closes, but the file is gone.
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) && standard.DeletePending)
        status->links = 0;
    status->regular = GetFileType(h) == FILE_TYPE_DISK
                      && !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    status->ownedByUser = ownedByUser(h);
    return true;
}

bool PlatformFile::write(const char *data, qint64 size)
{
    DWORD written = 0;
    if (!WriteFile(toHandle(m_handle), data, DWORD(size), &written, nullptr))
        return fail();
    if (qint64(written) == size)
        return true;
    m_error = ERROR_DISK_FULL;
    m_failure = NoSpace;
    return false;
}

qint64 PlatformFile::readAt(char *data, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        OVERLAPPED at = {};
        const quint64 from = quint64(offset + done);
        at.Offset = DWORD(from);
        at.OffsetHigh = DWORD(from >> 32);
        DWORD n = 0;
        const DWORD want = DWORD(qMin<qint64>(size - done, 1 << 30));
        if (!ReadFile(toHandle(m_handle), data + done, want, &n, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF)
                fail();
            break;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool PlatformFile::sync()
{
    return FlushFileBuffers(toHandle(m_handle)) || fail();
}

QString PlatformFile::errorString() const
{
    if (m_failure == Link)
        return QStringLiteral("a symbolic link or junction");
    return qt_error_string(m_error);
}

bool PlatformFile::pathId(const QByteArray &native, FileId *id, Links links, qint64 *size)
{
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder be opened too, as lstat would.
    HANDLE h = CreateFileW(wide(native), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           (links == RefuseLinks ? FILE_FLAG_OPEN_REPARSE_POINT : 0) | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_STANDARD_INFO standard;
    // A removed file keeps its name while others hold it open: no longer
    // the file at the path.
    const bool ok = GetFileInformationByHandle(h, &info)
                    && !(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)
                         && standard.DeletePending);
    CloseHandle(h);
    if (ok)
        *id = {info.dwVolumeSerialNumber, (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    if (ok && size)
        *size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    return ok;
}

bool PlatformFile::renameNew(const QByteArray &from, const QByteArray &to, QString *why)
{
    // Without MOVEFILE_REPLACE_EXISTING: fails when the new name exists. Open
    // handles share deletion, so the log moves while writers hold it.
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_WRITE_THROUGH))
        return true;
    *why = qt_error_string(int(GetLastError()));
    return false;
}

bool PlatformFile::replaceContents(const QString &path, const QByteArray &data, QString *why)
{
    // CREATE_NEW under a random name: a new file of this user alone, never
    // an existing path or link.
    OwnerOnly security(false);
    QByteArray temporary;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = nativePath(path + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                 QLatin1Char('0')));
        h = CreateFileW(wide(temporary), GENERIC_WRITE | DELETE, 0, security.attributes(), CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        *why = qt_error_string(int(GetLastError()));
        return false;
    }
    DWORD written = 0;
    bool done = WriteFile(h, data.constData(), DWORD(data.size()), &written, nullptr)
                && written == DWORD(data.size()) && FlushFileBuffers(h);
    DWORD error = done ? 0 : GetLastError();
    CloseHandle(h);
    if (done && !MoveFileExW(wide(temporary), wide(nativePath(path)), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        done = false;
    }
    if (!done) {
        DeleteFileW(wide(temporary));
        *why = qt_error_string(int(error ? error : ERROR_DISK_FULL));
    }
    return done;
}

bool PlatformFile::makePrivateFolders(const QString &path)
{
    QStringList missing;
    for (QString dir = QDir::cleanPath(path); !QFileInfo::exists(dir);) {
        missing.prepend(dir);
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            break;
        dir = parent;
    }
    OwnerOnly security(true);
    for (const QString &dir : qAsConst(missing)) {
        const QByteArray native = nativePath(dir);
        if (!CreateDirectoryW(wide(native), security.attributes()) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

qint64 PlatformFile::monotonicMs()
{
    return qint64(GetTickCount64());
}
