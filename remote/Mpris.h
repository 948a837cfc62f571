#pragma once
// MPRIS2 on the session bus: the desktop's media keys (GNOME, KDE, also under
// Wayland) and playerctl drive the desk through org.mpris.MediaPlayer2.tavoria.
// Next, PlayPause, Play, Pause and Stop call the desk's own handlers through
// RemoteDesk; PlaybackStatus and Metadata follow the desk's state.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>

class RemoteDesk;

class MprisService : public QObject {
    Q_OBJECT
public:
    MprisService(RemoteDesk* desk, std::function<void()> raise, QObject* parent = nullptr);
    ~MprisService() override;

    // Registers on the bus as "org.mpris.MediaPlayer2.tavoria" or, when another
    // desk holds that name, "org.mpris.MediaPlayer2.tavoria.instance<pid>".
    bool Register(const QDBusConnection& bus, QString* error = nullptr);
    // The same for the bus at address, without ever waiting on the bus on this
    // thread: connecting and claiming the name run on a thread of their own, and the
    // object is registered here once they are done. A bus that has not answered
    // within timeoutMs is given up: failed gets the reason (also when the bus
    // refuses), and a late answer is dropped.
    void RegisterAsync(const QString& address, int timeoutMs,
                       std::function<void(const QString&)> failed);
    void Unregister();
    bool IsRegistered() const { return m_registered; }
    const QString& ServiceName() const { return m_service; }

    // Reads the desk's state again; announces what changed (PropertiesChanged).
    void Refresh();

    QString PlaybackStatus() const { return m_status; }
    QVariantMap Metadata() const { return m_metadata; }
    qint64 PositionUs() const;
    bool CanPlay() const;

    // The player's methods (each one runs the desk's handler, then Refresh()).
    void Next();
    void PlayPause();
    void Play();
    void Pause();
    void Stop();
    void Raise();

private:
    template <typename F> void Run(F&& f);

    RemoteDesk* m_desk;
    std::function<void()> m_raise;
    QDBusConnection m_bus;
    bool m_registered = false;
    quint64 m_attempt = 0; // the asynchronous registration whose answer is awaited
    QString m_service;
    QString m_status = QStringLiteral("Stopped");
    QVariantMap m_metadata;
};

// org.mpris.MediaPlayer2
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit MprisRootAdaptor(MprisService* service);
    bool CanQuit() const { return false; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Tavoria"); }
    QString DesktopEntry() const { return QStringLiteral("tavoria"); }
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise();
    void Quit() {}

private:
    MprisService* m_service;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit MprisPlayerAdaptor(MprisService* service);
    QString PlaybackStatus() const { return m_service->PlaybackStatus(); }
    QVariantMap Metadata() const { return m_service->Metadata(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    double Volume() const { return 1.0; }
    void SetVolume(double) {}
    qlonglong Position() const { return m_service->PositionUs(); }
    bool CanGoNext() const { return m_service->CanPlay(); }
    bool CanGoPrevious() const { return false; }
    bool CanPlay() const { return m_service->CanPlay(); }
    bool CanPause() const { return true; }
    bool CanSeek() const { return false; }
    bool CanControl() const { return true; }

public slots:
    void Next();
    void Previous() {}
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisService* m_service;
};
