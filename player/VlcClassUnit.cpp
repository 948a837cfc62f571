#include "player/VlcClassUnit.h"

#include "player/VlcUnit.h"

#include <QFileInfo>

TVlcInstance::TVlcInstance(const QString& path, bool titleShow)
    : FPath(path), FTitleShow(titleShow) {}

TVlcInstance::~TVlcInstance() {
    if (FHandle != nullptr && vlc::libvlc_release != nullptr)
        vlc::libvlc_release(FHandle);
    FHandle = nullptr;
}

void TVlcInstance::AddOption(const QString& option) {
    if (option.isEmpty())
        return;
    for (const QString& held : std::as_const(FStartOptions))
        if (held.compare(option, Qt::CaseInsensitive) == 0)
            return;
    FStartOptions << option;
}

quint32 TVlcInstance::VersionBin() {
    if (FVersionBin == 0)
        FVersionBin = LibVlcVersionBin();
    return FVersionBin;
}

QStringList TVlcInstance::Arguments() const {
    const quint32 version = LibVlcVersionBin();
    TArgcArgs args;
    args.AddArg(LibVlcFolder());
    args.AddArg(QStringLiteral("--ignore-config"));
    args.AddArg(QStringLiteral("--intf=dummy"));
    args.AddArg(QStringLiteral("--quiet"));
    args.AddArg(FStartOptions);
    if (version < TAVORIA_VLC_V(2, 1, 0))
        args.AddArg(FTitleShow ? QStringLiteral("--video-title-show")
                               : QStringLiteral("--no-video-title-show"));
    if (version >= TAVORIA_VLC_V(1, 1, 0))
        args.AddArg(QStringLiteral("--sub-filter=logo:marq"));
    if (version >= TAVORIA_VLC_V(2, 0, 0))
        args.AddArg(QStringLiteral("--sub-source=marq"));
    return args.Args();
}

libvlc_instance_t* TVlcInstance::Handle() {
    if (FHandle != nullptr)
        return FHandle;
    if (!FPath.isEmpty()) {
        LoadLibVlc(FPath);
        if (!LibVlcError().isEmpty() && !LibVlcLoaded())
            LoadLibVlc(LibVlcDefaultDir());
    } else {
        LoadLibVlc(LibVlcDefaultDir());
    }
    if (!LibVlcError().isEmpty())
        return nullptr;
    TArgcArgs args;
    args.AddArg(Arguments());
    FHandle = vlc::libvlc_new(args.ARGC(), args.ARGS());
    return FHandle;
}

QString TVlcInstance::Error() const {
    const QString loaderError = LibVlcError();
    if (!loaderError.isEmpty())
        return loaderError;
    if (LibVlcLoaded() && vlc::libvlc_errmsg != nullptr) {
        if (const char* msg = vlc::libvlc_errmsg())
            return QString::fromUtf8(msg);
    }
    return {};
}

// ---------------------------------------------------------------------------

TVlcMedia::TVlcMedia(TVlcInstance* instance, const QString& mrl) : FVLC(instance) {
    if (FVLC == nullptr)
        return;
    libvlc_instance_t* handle = FVLC->Handle();
    if (handle == nullptr)
        return;
    // An existing file is opened as a path, a text with a scheme as a
    // location. A text without a scheme that names no file is a missing path:
    // as a location libVLC would probe every access module with it, and some
    // of them (rist) wait for data for ever and block stop and release; as a
    // path libVLC reports the missing file as an error at once.
    // libVLC would read the text only up to a NUL, and so open another file: the
    // NUL goes in as U+FFFD, and the whole text is opened (or reported missing).
    const QString text = QString(mrl).replace(QChar(0), QChar::ReplacementCharacter);
    const QFileInfo fi(text);
    const bool isFile = !text.isEmpty() && fi.exists() && !fi.isDir();
    const bool hasScheme = text.contains(QStringLiteral("://"));
    if (isFile || (!hasScheme && !text.trimmed().isEmpty()))
        FMD = vlc::libvlc_media_new_path(handle, text.toUtf8().constData());
    else
        FMD = vlc::libvlc_media_new_location(handle, text.toUtf8().constData());
}

TVlcMedia::~TVlcMedia() {
    if (FMD != nullptr)
        vlc::libvlc_media_release(FMD);
    FMD = nullptr;
}

void TVlcMedia::AddOption(const QString& option) {
    const QByteArray utf8 = option.trimmed().toUtf8();
    if (!utf8.isEmpty() && FMD != nullptr)
        vlc::libvlc_media_add_option(FMD, utf8.constData());
}

void TVlcMedia::SetDeinterlaceFilter(TDeinterlaceFilter filter) {
    AddOption(filter == deON ? QStringLiteral("deinterlace=1") : QStringLiteral("deinterlace=0"));
}

void TVlcMedia::SetDeinterlaceFilterMode(TDeinterlaceMode mode) {
    AddOption(QStringLiteral("deinterlace-mode=") + DeinterlaceModeName(mode));
}

QString DeinterlaceModeName(TDeinterlaceMode mode) {
    switch (mode) {
    case dmDISCARD:
        return QStringLiteral("discard");
    case dmBLEND:
        return QStringLiteral("blend");
    case dmMEAN:
        return QStringLiteral("mean");
    case dmBOB:
        return QStringLiteral("bob");
    case dmLINEAR:
        return QStringLiteral("linear");
    case dmX:
        return QStringLiteral("x");
    case dmYADIF:
        return QStringLiteral("yadif");
    case dmYADIF2x:
        return QStringLiteral("yadif2x");
    case dmPHOSPHOR:
        return QStringLiteral("phosphor");
    case dmIVTC:
        return QStringLiteral("ivtc");
    }
    return QStringLiteral("discard");
}
