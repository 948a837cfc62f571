#pragma once

// The libVLC instance and one media, over the entry points of VlcUnit.

#include <QString>
#include <QStringList>

#include <vlc/vlc.h>

enum TDeinterlaceFilter { deOFF, deON };
enum TDeinterlaceMode {
    dmDISCARD,
    dmBLEND,
    dmMEAN,
    dmBOB,
    dmLINEAR,
    dmX,
    dmYADIF,
    dmYADIF2x,
    dmPHOSPHOR,
    dmIVTC
};

class TVlcInstance {
public:
    explicit TVlcInstance(const QString& path = {}, bool titleShow = false);
    ~TVlcInstance();
    TVlcInstance(const TVlcInstance&) = delete;
    TVlcInstance& operator=(const TVlcInstance&) = delete;

    // Loads libVLC and creates the instance at the first read; nil while the
    // loader reports an error (a later read tries again where the loader allows).
    libvlc_instance_t* Handle();

    // Appends a non-empty option unless an equal one (ignoring case) is held.
    void AddOption(const QString& option);
    const QStringList& Options() const { return FStartOptions; }

    // The argument vector handed to libvlc_new, in order (libVLC must be loaded
    // for the version-dependent tail).
    QStringList Arguments() const;

    // The loader's error, else libVLC's last error message, else empty.
    QString Error() const;
    quint32 VersionBin();
    QString Path() const { return FPath; }
    bool TitleShow() const { return FTitleShow; }

private:
    libvlc_instance_t* FHandle = nullptr;
    QString FPath;
    bool FTitleShow = false;
    quint32 FVersionBin = 0;
    QStringList FStartOptions;
};

class TVlcMedia {
public:
    // A path when a file exists at the text, a location otherwise; nothing
    // when no instance handle can be obtained.
    TVlcMedia(TVlcInstance* vlc, const QString& mrl);
    ~TVlcMedia();
    TVlcMedia(const TVlcMedia&) = delete;
    TVlcMedia& operator=(const TVlcMedia&) = delete;

    void AddOption(const QString& option);
    void SetDeinterlaceFilter(TDeinterlaceFilter filter);
    void SetDeinterlaceFilterMode(TDeinterlaceMode mode);

    libvlc_media_t* MD() const { return FMD; }
    TVlcInstance* VLC() const { return FVLC; }

private:
    TVlcInstance* FVLC = nullptr;
    libvlc_media_t* FMD = nullptr;
};

QString DeinterlaceModeName(TDeinterlaceMode mode);
