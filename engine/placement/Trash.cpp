#include "OutputPlacement.h"

#include "EngineSupport.h"
#include "PlacementSupport.h"

#include <QFileInfo>

#include <gio/gunixmounts.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vantro {

namespace {

// Why one file could not be moved; the caller names the file.
struct TrashFailure {
    QString reason;
};

[[noreturn]] void fail(const QString& what, int error)
{
    throw TrashFailure{what + QStringLiteral(": ") + errorText(error)};
}

QString cannotMake(const QString& trash)
{
    return QStringLiteral("Cannot make the Trash folder ") + trash;
}

const QString kInfoSuffix = QStringLiteral(".trashinfo");

// A Trash and the folder its information files give paths relative to:
// empty for the home Trash, whose paths are absolute; a drive's own Trash
// gives them from its top, so that they still hold where it is mounted next.
struct TrashFolder {
    QString path;
    QString topdir;
};

// The home Trash, and the home folder it is in where XDG_DATA_HOME does not
// put it elsewhere: a Trash is no reason to make a home that is missing.
struct HomeTrash {
    QString path;
    std::optional<QString> home;
};

HomeTrash homeTrash()
{
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.startsWith(u'/'))
        return {data + QStringLiteral("/Trash"), std::nullopt};
    const QString home = homeFolder();
    return {home + QStringLiteral("/.local/share/Trash"), home};
}

// The file system of the folder or, where it does not exist yet, of the
// nearest folder above it that does: the one it will be made on.
dev_t deviceOf(QString folder)
{
    struct stat info {};
    while (::stat(nativePath(folder).constData(), &info) != 0 && folder.size() > 1)
        folder = QFileInfo(folder).path();
    return info.st_dev;
}

int makeTrashParts(const QString& trash)
{
    int error = makePath(trash + QStringLiteral("/files"), 0700);
    return error != 0 ? error : makePath(trash + QStringLiteral("/info"), 0700);
}

// Makes a Trash of the user's own on a drive, owner-only. One that another
// job made meanwhile serves as well; one that is a link or another user's
// must not, as others could then read or take what is trashed. Returns why
// the folder cannot serve, or nothing.
QString ownTrashRefusal(const QString& trash)
{
    const QByteArray native = nativePath(trash);
    struct stat info {};
    if ((::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) || ::lstat(native.constData(), &info) != 0)
        return errorText(errno);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return QStringLiteral("it is a link or not the user's own folder");
    const int error = makeTrashParts(trash);
    return error != 0 ? errorText(error) : QString();
}

// The top of the file system holding the folder; empty where the desktop
// shows no Trash for it: the system's own file systems, temporary ones among them.
QString trashTopOf(const QString& folder)
{
    const std::unique_ptr<GUnixMountEntry, decltype(&g_unix_mount_free)> mount(
        g_unix_mount_for(nativePath(folder).constData(), nullptr), &g_unix_mount_free);
    if (!mount || g_unix_mount_is_system_internal(mount.get()))
        return QString();
    return QFile::decodeName(g_unix_mount_get_mount_path(mount.get()));
}

// The home Trash for a file on its file system; else the drive's shared
// Trash where an administrator made one (a real folder with the sticky bit),
// else one of the user's own at the drive's top.
TrashFolder trashFor(const QString& realFolder, dev_t device)
{
    const HomeTrash home = homeTrash();
    if (deviceOf(home.path) == device) {
        struct stat info {};
        if (home.home && (::stat(nativePath(*home.home).constData(), &info) != 0 || !S_ISDIR(info.st_mode)))
            throw TrashFailure{QStringLiteral("The home folder ") + *home.home + QStringLiteral(" does not exist")};
        if (const int error = makeTrashParts(home.path))
            fail(cannotMake(home.path), error);
        return {home.path, QString()};
    }
    const QString topdir = trashTopOf(realFolder);
    if (topdir.isEmpty())
        throw TrashFailure{QStringLiteral("The system file system it is on has no Trash")};
    const QString uid = QString::number(::geteuid());
    const QString shared = joinPath(topdir, QStringLiteral(".Trash"));
    struct stat info {};
    if (::lstat(nativePath(shared).constData(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0
        && ownTrashRefusal(joinPath(shared, uid)).isEmpty())
        return {joinPath(shared, uid), topdir};
    step(OutputPlacement::Step::trashFolder);
    const QString own = joinPath(topdir, QStringLiteral(".Trash-") + uid);
    if (const QString reason = ownTrashRefusal(own); !reason.isEmpty())
        throw TrashFailure{cannotMake(own) + QStringLiteral(": ") + reason};
    return {own, topdir};
}

// The k-th name (from 1) a file may take in the Trash: its own, then
// "name.2.ext", "name.3.ext", ... Where that is longer than `room` the stem
// gives way, cut at a character, so the extension still tells the type.
QString trashName(const QString& name, int64_t k, qsizetype room)
{
    QString stem = splitName(name).stem;
    const QString number = k > 1 ? u'.' + QString::number(k) : QString();
    QString tail = number + name.mid(stem.size());
    if (nativePath(stem + tail).size() <= room)
        return stem + tail;
    if (nativePath(tail).size() >= room) {
        stem = name;
        tail = number;
    }
    return stemWithin(stem, room - nativePath(tail).size()) + tail;
}

// The information file by which a file manager restores a file: its path
// percent-escaped as a URI's (every byte but unreserved ASCII and "/"), and
// the time of deletion in local time.
QByteArray trashInfo(const QByteArray& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char date[32] = {};
    ::localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return QByteArrayLiteral("[Trash Info]\nPath=") + path.toPercentEncoding("/") + QByteArrayLiteral("\nDeletionDate=")
        + date + '\n';
}

// Where the file system neither renames without replacing nor links, the
// name is created exclusively, empty, and the file renamed over it: it
// replaces nothing but the entry made for it. A kill in between leaves that
// entry empty in the Trash, the file where it was.
int renameOverReservation(const QByteArray& from, const QByteArray& to)
{
    FileHandle reservation(openExclusive(to, 0600));
    if (reservation.get() < 0)
        return errno;
    if (::rename(from.constData(), to.constData()) != 0) {
        const int error = errno;
        closeAndRemove(AT_FDCWD, to, reservation.release());
        return error;
    }
    return 0;
}

// A number whose name `taken` finds free, `from` or after. The first few are
// looked at in turn; then numbers ever further apart until one is free, and
// the gap between it and the last taken one is halved down to a free number
// right after a taken one. A Trash that holds thousands of one name (every
// album's cover.jpg) so costs a few dozen looks, not one a name.
int64_t freeNumber(int64_t from, const std::function<bool(int64_t)>& taken, const QString& folder)
{
    constexpr int64_t kInTurn = 4;
    int64_t last = from - 1;
    int64_t next = from;
    for (int64_t step = 1; taken(next);) {
        if (next - from >= kInTurn)
            step *= 2;
        if (step >= std::numeric_limits<int64_t>::max() - next)
            throw TrashFailure{QStringLiteral("No free name in ") + folder};
        last = next;
        next += step;
    }
    while (next - last > 1) {
        const int64_t middle = last + (next - last) / 2;
        (taken(middle) ? last : next) = middle;
    }
    return next;
}

bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(nativePath(path).constData(), &info) == 0;
}

// The information file comes first, written whole and flushed, so that no
// file is in the Trash without one; the file then takes the same name in
// files/ by a rename that never replaces. On every failure the information
// file goes again and the file stays where it was. A name found free may be
// taken before it is claimed: the search goes on after it.
void moveToTrash(const QString& path)
{
    const QString file = QFileInfo(path).absoluteFilePath();
    const QByteArray native = nativePath(file);
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0)
        throw TrashFailure{errorText(errno)};
    const QString realFolder = QFileInfo(QFileInfo(file).path()).canonicalFilePath();
    const TrashFolder trash = trashFor(realFolder, status.st_dev);

    const QString realFile = joinPath(realFolder, fileNameOf(file));
    const QString top = joinPath(trash.topdir, QString());
    const QByteArray info
        = trashInfo(nativePath(!trash.topdir.isEmpty() && realFile.startsWith(top) ? realFile.mid(top.size()) : file));

    const QString infoFolder = trash.path + QStringLiteral("/info");
    const QString filesFolder = trash.path + QStringLiteral("/files");
    const qsizetype room = std::min(nameMaxOf(infoFolder) - nativePath(kInfoSuffix).size(), nameMaxOf(filesFolder));
    const auto nameAt = [&](int64_t k) { return trashName(fileNameOf(file), k, room); };
    // A name is taken by an information file or a file, whichever a kill left.
    const auto taken = [&](int64_t k) {
        const QString name = nameAt(k);
        return exists(joinPath(infoFolder, name + kInfoSuffix)) || exists(joinPath(filesFolder, name));
    };
    for (int64_t k = freeNumber(1, taken, filesFolder);; k = freeNumber(k + 1, taken, filesFolder)) {
        const QString name = nameAt(k);
        const QString infoFile = joinPath(infoFolder, name + kInfoSuffix);
        const QByteArray infoNative = nativePath(infoFile);
        FileHandle record(openExclusive(infoNative, 0600));
        if (record.get() < 0) {
            const int error = errno;
            if (error == EEXIST)
                continue;
            fail(QStringLiteral("Cannot write ") + infoFile, error);
        }

        const QString target = joinPath(filesFolder, name);
        QString failed = QStringLiteral("Cannot write ") + infoFile;
        int error = writeAll(record.get(), info);
        if (error == 0 && ::fsync(record.get()) != 0)
            error = errno;
        if (error == 0) {
            step(OutputPlacement::Step::claiming);
            failed = QStringLiteral("Cannot move it to ") + target;
            error = renameWithoutReplacing(native, nativePath(target));
            if (featureRefused(error))
                error = renameOverReservation(native, nativePath(target));
            if (error == 0)
                return;
        }
        closeAndRemove(AT_FDCWD, infoNative, record.release());
        if (error != EEXIST)
            fail(failed, error);
    }
}

} // namespace

void OutputPlacement::recycleViaWorkspace(const QStringList& paths)
{
    for (const QString& path : paths) {
        try {
            moveToTrash(path);
        } catch (const TrashFailure& failure) {
            throw TrashError(QStringLiteral("\"%1\" could not be moved to the Trash: %2")
                                 .arg(fileNameOf(path), failure.reason)
                                 .toStdString());
        }
    }
}

} // namespace vantro
