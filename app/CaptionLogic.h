#pragma once
#include <QString>
#include <array>

// The caption list's rules, kept apart from the window so that tests reach them.

// What the editor's button does now: add a new row, or replace the row being
// edited. The button's caption shows it; the remote control asks it too.
class CaptionEditorMode {
public:
    bool Editing() const { return m_editing; }
    void StartEditing() { m_editing = true; }
    void FinishEditing() { m_editing = false; }
    // "Edit" while a row is being edited, "Add" otherwise.
    QString ButtonText() const;

private:
    bool m_editing = false;
};

// The editor accepts a speaker or a talk title of at least two characters, counted
// as the operator sees them (an emoji or a letter with a combining accent is one).
bool CaptionTextLongEnough(const QString& text);

// Widths of the speaker, talk and details columns for a list width pixels wide:
// a third each, the details 25 pixels less (never below 0).
std::array<int, 3> CaptionColumnWidths(int width);

// The 0-based caption row a playlist row's link names, or -1 when the link is
// empty or names no row (0, negative, beyond rowCount). A link that is not a
// whole number raises TavoriaError.
int CaptionRowForLink(const QString& link, int rowCount);

// text with every line break (CR LF, a lone LF, a lone CR, the Unicode line and
// paragraph separators) replaced by one separator.
QString LinesJoined(const QString& text, QChar separator);

// A caption field as the editor keeps it: one line, each line break of a pasted
// text made one space (a caption file's lines are its speaker, talk and details).
QString CaptionLine(const QString& text);

// The marquee as it goes into "marquesina.txt": every line break of the editor's
// text (CR LF, a lone LF, a lone CR, and the Unicode line and paragraph
// separators) becomes one TAB, so the whole marquee is one line.
QString MarqueeFileText(const QString& editorText);
