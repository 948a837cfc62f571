#include "player/VlcUnit.h"

#include "platform/VlcFolder.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

#include <type_traits>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

QString VersionName(quint32 v) {
    return QStringLiteral("%1.%2.%3").arg(v >> 16).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

struct TLoaderState {
    QString folder;
    void* core = nullptr;
    void* lib = nullptr;
    QString versionText;
    quint32 version = 0;
    QString error;
    bool systemFallback = true;
    TLibVlcMessageHook messageHook;
};

TLoaderState& Loader() {
    static TLoaderState state;
    return state;
}

void ShowStubMessage(const QString& text) {
    const QString caption = QStringLiteral("libvlc");
    TLoaderState& st = Loader();
    if (st.messageHook) {
        st.messageHook(caption, text);
        return;
    }
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app != nullptr && QThread::currentThread() == app->thread()) {
        QMessageBox::critical(nullptr, caption, text);
        return;
    }
    qWarning("%s: %s", qPrintable(caption), qPrintable(text));
}

// A stub stands in for an entry point that the loaded libVLC does not have:
// it tells the operator which version is needed and returns 0 or null.
template <typename F> struct TStub;
template <typename R, typename... A> struct TStub<R (*)(A...)> {
    template <const char* Text, quint32 Stage> static R Require(A...) {
        ShowStubMessage(QString::fromLatin1(Text) + QStringLiteral(" require libvlc ") +
                        VersionName(Stage));
        if constexpr (!std::is_void_v<R>)
            return R{};
    }
    template <const char* Text> static R Removed(A...) {
        ShowStubMessage(QString::fromLatin1(Text) + QStringLiteral(" is missing in libvlc ") +
                        VersionName(TAVORIA_VLC_V(4, 0, 0)));
        if constexpr (!std::is_void_v<R>)
            return R{};
    }
};

namespace text {
#define TAVORIA_VLC_TEXT(name, stage, txt) constexpr char name[] = txt;
TAVORIA_VLC_ENTRY_POINTS(TAVORIA_VLC_TEXT)
#undef TAVORIA_VLC_TEXT
constexpr char libvlc_media_player_stop[] = "libvlc_media_player_stop";
constexpr char libvlc_media_player_stop_async[] = "libvlc_media_player_stop_async";
} // namespace text

template <auto* Text, quint32 Stage, typename F> F InitialPointer() {
    if constexpr (Stage == 0)
        return nullptr;
    else
        return &TStub<F>::template Require<Text, Stage>;
}

} // namespace

namespace vlc {
#define TAVORIA_VLC_DEFINE_ENTRY(name, stage, txt)                                                 \
    decltype(&::name) name = InitialPointer<text::name, stage, decltype(&::name)>();
TAVORIA_VLC_ENTRY_POINTS(TAVORIA_VLC_DEFINE_ENTRY)
#undef TAVORIA_VLC_DEFINE_ENTRY
decltype(&::libvlc_media_player_stop) libvlc_media_player_stop = nullptr;
stop_async_t libvlc_media_player_stop_async =
    &TStub<stop_async_t>::Require<text::libvlc_media_player_stop_async, TAVORIA_VLC_V(4, 0, 0)>;
decltype(&::libvlc_get_version) libvlc_get_version = nullptr;
} // namespace vlc

namespace {

void ResetEntryPoints() {
#define TAVORIA_VLC_RESET_ENTRY(name, stage, txt)                                                  \
    vlc::name = InitialPointer<text::name, stage, decltype(&::name)>();
    TAVORIA_VLC_ENTRY_POINTS(TAVORIA_VLC_RESET_ENTRY)
#undef TAVORIA_VLC_RESET_ENTRY
    vlc::libvlc_media_player_stop = nullptr;
    vlc::libvlc_media_player_stop_async =
        &TStub<vlc::stop_async_t>::Require<text::libvlc_media_player_stop_async,
                                           TAVORIA_VLC_V(4, 0, 0)>;
    vlc::libvlc_get_version = nullptr;
}

QString DlError() {
#ifndef _WIN32
    const char* e = dlerror();
    return e != nullptr ? QString::fromLocal8Bit(e) : QString();
#else
    return {};
#endif
}

QString EntryPointError(const char* name) {
    return QStringLiteral(
               "Entry point \"%1\" not found!\r\nLibrary: \"%2/\"\r\nGetLastError() = %3")
        .arg(QString::fromLatin1(name), Loader().folder, DlError());
}

// Opens the library: first the file in the VLC folder, then (unless the test
// hook forbids it) by name through the system's library path.
void* OpenLibrary(const QString& folderFile, const char* soname, int flags, QString* err) {
#ifndef _WIN32
    QStringList tried;
    if (!folderFile.isEmpty()) {
        dlerror();
        if (void* h = dlopen(QFile::encodeName(folderFile).constData(), flags))
            return h;
        *err = DlError();
        tried << folderFile;
    }
    if (Loader().systemFallback) {
        dlerror();
        if (void* h = dlopen(soname, flags))
            return h;
        *err = DlError();
        return nullptr;
    }
    if (tried.isEmpty())
        *err = QStringLiteral("%1/%2: cannot open shared object file: No such file or directory")
                   .arg(Loader().folder, QString::fromLatin1(soname));
    return nullptr;
#else
    Q_UNUSED(folderFile);
    Q_UNUSED(soname);
    Q_UNUSED(flags);
    *err = QStringLiteral("not supported");
    return nullptr;
#endif
}

// True when the file is an ELF object of the other word size than this program.
bool IsForeignElfClass(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(5);
    if (head.size() < 5 || !head.startsWith("\x7f"
                                            "ELF"))
        return false;
    const int elfClass = static_cast<unsigned char>(head[4]);
    if (sizeof(void*) == 8)
        return elfClass == 1;
    return false;
}

template <typename F> bool Resolve(F& ptr, const char* name) {
#ifndef _WIN32
    dlerror();
    void* sym = dlsym(Loader().lib, name);
    if (sym == nullptr)
        return false;
    ptr = reinterpret_cast<F>(sym);
    return true;
#else
    Q_UNUSED(ptr);
    Q_UNUSED(name);
    return false;
#endif
}

} // namespace

QString LibVlcDefaultDir() {
    return VlcInstallDir();
}

bool LibVlcLoaded() {
    return Loader().lib != nullptr;
}

QString LibVlcError() {
    return Loader().error;
}

QString LibVlcFolder() {
    return Loader().folder;
}

QString LibVlcVersionText() {
    return Loader().versionText;
}

quint32 LibVlcVersionBin() {
    return Loader().version;
}

void SetLibVlcSystemFallback(bool allowed) {
    Loader().systemFallback = allowed;
}

void SetLibVlcMessageHook(TLibVlcMessageHook hook) {
    Loader().messageHook = std::move(hook);
}

quint32 ParseLibVlcVersion(const QString& text) {
    quint32 parts[3] = {0, 0, 0};
    qsizetype pos = 0;
    for (quint32& part : parts) {
        quint32 value = 0;
        while (pos < text.size() && text.at(pos).isDigit() && text.at(pos).unicode() < 128) {
            value = value * 10 + static_cast<quint32>(text.at(pos).unicode() - '0');
            ++pos;
        }
        part = value;
        if (pos < text.size() &&
            (text.at(pos) == QLatin1Char('.') || text.at(pos) == QLatin1Char(',')))
            ++pos;
    }
    return TAVORIA_VLC_V(parts[0], parts[1], parts[2]);
}

void LoadLibVlc(const QString& folder) {
    TLoaderState& st = Loader();
    if (st.lib != nullptr)
        return;

    st.versionText.clear();
    st.version = 0;
    st.error.clear();
    QString dir = folder;
    while (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\'))))
        dir.chop(1);
    st.folder = dir;

    auto inFolder = [&dir](const char* name) {
        if (dir.isEmpty())
            return QString();
        const QString p = dir + QLatin1Char('/') + QLatin1String(name);
        return QFileInfo(p).isFile() ? p : QString();
    };
    const QString libPath = inFolder("libvlc.so.5");
    const QString corePath = inFolder("libvlccore.so.9");

    if (!libPath.isEmpty() && IsForeignElfClass(libPath)) {
        st.error = QStringLiteral("Application is 64 bit, but  library is 32 bit");
        return;
    }

#ifndef _WIN32
    QString err;
    if (st.core == nullptr) {
        st.core = OpenLibrary(corePath, "libvlccore.so.9", RTLD_NOW | RTLD_GLOBAL, &err);
        if (st.core == nullptr) {
            st.error = QStringLiteral("Library not found libvlccore, GetLastError() = ") + err;
            return;
        }
    }
    st.lib = OpenLibrary(libPath, "libvlc.so.5", RTLD_NOW | RTLD_LOCAL, &err);
    if (st.lib == nullptr) {
        st.error = QStringLiteral("Library not found libvlc, GetLastError() = ") + err;
        return;
    }
#else
    st.error = QStringLiteral("Library not found libvlccore, GetLastError() = 0");
    return;
#endif

    // From here on a failure lasts: libvlc stays loaded and the text stays.
    ResetEntryPoints();
    if (!Resolve(vlc::libvlc_get_version, "libvlc_get_version")) {
        st.error = EntryPointError("libvlc_get_version");
        return;
    }
    const char* ver = vlc::libvlc_get_version();
    st.versionText = ver != nullptr ? QString::fromUtf8(ver) : QString();
    st.version = ParseLibVlcVersion(st.versionText);
    if (st.version < TAVORIA_VLC_V(1, 0, 0)) {
        st.error = QStringLiteral("Current libvlc version: %1, minimum supported version is 1.0.0")
                       .arg(VersionName(st.version));
        return;
    }

    static const quint32 stages[] = {0,
                                     TAVORIA_VLC_V(1, 1, 0),
                                     TAVORIA_VLC_V(1, 1, 1),
                                     TAVORIA_VLC_V(1, 1, 5),
                                     TAVORIA_VLC_V(2, 0, 0),
                                     TAVORIA_VLC_V(2, 1, 0),
                                     TAVORIA_VLC_V(2, 2, 0),
                                     TAVORIA_VLC_V(3, 0, 0),
                                     TAVORIA_VLC_V(4, 0, 0)};
    for (const quint32 stage : stages) {
        if (stage > st.version)
            break;
#define TAVORIA_VLC_RESOLVE_ENTRY(name, entryStage, txt)                                           \
    if (entryStage == stage && !Resolve(vlc::name, #name)) {                                       \
        st.error = EntryPointError(#name);                                                         \
        return;                                                                                    \
    }
        TAVORIA_VLC_ENTRY_POINTS(TAVORIA_VLC_RESOLVE_ENTRY)
#undef TAVORIA_VLC_RESOLVE_ENTRY
        if (stage == 0) {
            if (st.version < TAVORIA_VLC_V(4, 0, 0)) {
                if (!Resolve(vlc::libvlc_media_player_stop, "libvlc_media_player_stop")) {
                    st.error = EntryPointError("libvlc_media_player_stop");
                    return;
                }
            } else {
                vlc::libvlc_media_player_stop = &TStub<
                    decltype(&::libvlc_media_player_stop)>::Removed<text::libvlc_media_player_stop>;
            }
        }
        if (stage == TAVORIA_VLC_V(4, 0, 0) &&
            !Resolve(vlc::libvlc_media_player_stop_async, "libvlc_media_player_stop_async")) {
            st.error = EntryPointError("libvlc_media_player_stop_async");
            return;
        }
    }
}

// ---------------------------------------------------------------------------

void TArgcArgs::AddArg(const QString& value, bool ignoreEmptyStrings, bool allowDuplicates) {
    if (ignoreEmptyStrings && value.trimmed().isEmpty())
        return;
    if (static_cast<int>(Fargv.size()) >= MaxArgs)
        return;
    QByteArray utf8 = value.toUtf8();
    if (!allowDuplicates) {
        for (const QByteArray& held : Fargv)
            if (held == utf8)
                return;
    }
    Fargv.push_back(std::move(utf8));
}

void TArgcArgs::AddArg(const QStringList& values, bool ignoreEmptyStrings, bool allowDuplicates) {
    for (const QString& v : values)
        AddArg(v, ignoreEmptyStrings, allowDuplicates);
}

const char* const* TArgcArgs::ARGS() {
    Fargs.clear();
    Fargs.reserve(Fargv.size() + 1);
    for (const QByteArray& a : Fargv)
        Fargs.push_back(a.constData());
    Fargs.push_back(nullptr);
    return Fargs.data();
}

QStringList TArgcArgs::Args() const {
    QStringList out;
    for (const QByteArray& a : Fargv)
        out << QString::fromUtf8(a);
    return out;
}

// ---------------------------------------------------------------------------

namespace {
QString TwoDigits(qint64 n) {
    return n < 10 ? QStringLiteral("0") + QString::number(n) : QString::number(n);
}
} // namespace

QString TimeMsToStr(qint64 timeMs, const QString& format) {
    const qint64 t = timeMs < 0 ? 0 : timeMs;
    const qint64 ms = t % 1000;
    const qint64 s = (t / 1000) % 60;
    const qint64 m = (t / 60000) % 60;
    const qint64 h = (t / 3600000) % 24;
    const quint16 d = static_cast<quint16>(t / 86400000);

    QString out = format;
    out.replace(QStringLiteral("dd"), TwoDigits(d), Qt::CaseInsensitive);
    out.replace(QStringLiteral("hh"), TwoDigits(h), Qt::CaseInsensitive);
    out.replace(QStringLiteral("mm"), TwoDigits(m), Qt::CaseInsensitive);
    out.replace(QStringLiteral("ss"), TwoDigits(s), Qt::CaseInsensitive);
    QString msText = QString::number(ms);
    if (ms < 10)
        msText.prepend(QStringLiteral("00"));
    else if (ms < 100)
        msText.prepend(QLatin1Char('0'));
    out.replace(QStringLiteral("ms"), msText, Qt::CaseInsensitive);
    return out;
}
