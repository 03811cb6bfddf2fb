#pragma once

#include <QByteArrayList>
#include <QDialog>
#include <QFileDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The outcome of checking a batch of URLs: Ok, or the message for the first bad line.
struct TURLCheck {
    bool Ok = true;
    QString Message;
};

// Checks every line of Text (lines counted from 1): it must begin with "http://"
// (A-Z case ignored), name a document, and that document must be an accepted
// audio type. An empty text passes.
TURLCheck CheckURLLines(const QString &Text);

// Takes a batch of http URLs for the music library, one per line; URL lists can be
// loaded from and saved to text files.
class TInputURLsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TInputURLsDialog(QWidget *Parent = nullptr);

    // The box's lines as they stand (a final line break adds no line).
    QByteArrayList URLLines() const;
    // The last URL-list file loaded or saved during this showing.
    QString URLFileName() const { return FURLFileName; }

    // Replaces the box's text with the file's; CR LF, CR and LF all break lines.
    // False (and an error box) when the file cannot be read.
    bool LoadURLFile(const QString &Path);
    // Writes the box's text as it stands, line breaks as CR LF, replacing the file
    // atomically. False (and an error box) when it cannot be written.
    bool SaveURLFile(const QString &Path);

    void LoadURLList();
    void SaveURLList();
    // Closes with OK when every line passes CheckURLLines, else names the bad line.
    void AcceptInput();

    QLabel *FPromptLabel = nullptr;
    QPlainTextEdit *FURLsEdit = nullptr;
    QPushButton *FLoadButton = nullptr;
    QPushButton *FSaveButton = nullptr;
    QPushButton *FOKButton = nullptr;
    QPushButton *FCancelButton = nullptr;

    static const QString URLFileFilter;

private:
    // Asks for a URL-list file, starting at the remembered one; remembers the choice.
    bool AskURLFileName(QFileDialog::AcceptMode Mode);

    QString FURLFileName;
};
