#include "app/ErrorReporter.h"

#include "media/TavoriaError.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

ErrorReporter::ErrorReporter(QWidget* owner) : QObject(owner), m_owner(owner) {}

ErrorReporter::~ErrorReporter() {
    if (m_box)
        delete m_box.data();
}

bool ErrorReporter::BoxVisible() const {
    return m_box && m_box->isVisible();
}

void ErrorReporter::ResetForTests() {
    m_count = 0;
    m_repeats = 0;
    m_last.clear();
    if (m_box)
        m_box->hide();
}

void ErrorReporter::ReportException(const std::exception& e) noexcept {
    try {
        Report(ErrorText(e));
    } catch (...) {
    }
}

void ErrorReporter::Report(const QString& text) {
    ++m_count;
    std::fprintf(stderr, "tavoria: %s\n", text.toLocal8Bit().constData());
    if (BoxVisible()) {
        m_repeats = text == m_last ? m_repeats + 1 : 0;
        m_last = text;
        m_box->setText(text);
        m_box->setInformativeText(
            m_repeats ? QStringLiteral("(repetido %1 veces)").arg(m_repeats + 1) : QString());
        return;
    }
    m_last = text;
    m_repeats = 0;
    if (!m_box) {
        m_box = new QMessageBox(m_owner);
        m_box->setIcon(QMessageBox::Critical);
        m_box->setWindowTitle(QApplication::applicationName());
        m_box->setStandardButtons(QMessageBox::Ok);
        m_box->setWindowModality(Qt::NonModal);
        m_box->setObjectName(QStringLiteral("ErrorBox"));
    }
    m_box->setText(text);
    m_box->setInformativeText(QString());
    m_box->show();
}
