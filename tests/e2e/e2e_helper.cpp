// A second X client for the end-to-end test, doing what the operator's other
// programs do:
//   e2e_helper drag X Y FILE...  a small window at X,Y; a press of the first button
//                                on it starts a drag of the files' URLs (as a file
//                                manager does) and prints "dropped" or "refused"
//                                when it is over; it ends on SIGTERM (or 30 s later).
//   e2e_helper close WINDOW      asks a top-level window to close, as a window
//                                manager does for its close box (WM_DELETE_WINDOW).
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>

namespace {

class DragSource : public QLabel {
public:
    explicit DragSource(QList<QUrl> urls) : m_urls(std::move(urls)) {
        setText(QStringLiteral("Archivos: %1").arg(m_urls.size()));
        setAlignment(Qt::AlignCenter);
        setAutoFillBackground(true);
        setStyleSheet(QStringLiteral("background: #fc6; border: 2px solid #960;"));
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        auto* mime = new QMimeData;
        mime->setUrls(m_urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
        std::printf("%s\n", action == Qt::IgnoreAction ? "refused" : "dropped");
        std::fflush(stdout);
        // The receiver asks for the file names after the drop: the source stays
        // to answer until it is told to end (or a while has passed).
        QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
    }

private:
    QList<QUrl> m_urls;
};

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

int Close(xcb_window_t window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "e2e_helper: no X display\n");
        return 2;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(c, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(c, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_void_cookie_t cookie = xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                      reinterpret_cast<const char*>(&event));
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    const int rc = error ? 1 : 0;
    std::free(error);
    xcb_disconnect(c);
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "close") == 0)
        return Close(xcb_window_t(std::strtoul(argv[2], nullptr, 0)));
    if (argc < 5 || std::strcmp(argv[1], "drag") != 0) {
        std::fprintf(stderr, "usage: e2e_helper drag X Y FILE... | e2e_helper close WINDOW\n");
        return 2;
    }
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (int i = 4; i < argc; ++i)
        urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    DragSource source(urls);
    source.setWindowTitle(QStringLiteral("e2e drag source"));
    source.setGeometry(std::atoi(argv[2]), std::atoi(argv[3]), 160, 90);
    source.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
