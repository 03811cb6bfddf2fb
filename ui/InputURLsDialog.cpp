#include "InputURLsDialog.h"

#include "AsciiText.h"
#include "AudioTypes.h"
#include "Modal.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

const QString TInputURLsDialog::URLFileFilter = QStringLiteral("Urls text file (*.txt)");

namespace {

bool EndsWithLineBreak(const QByteArray &Text) {
    return Text.endsWith('\n') || Text.endsWith('\r');
}

} // namespace

TURLCheck CheckURLLines(const QString &Text) {
    const QByteArrayList Lines = SplitLines(Text.toUtf8());
    for (qsizetype I = 0; I < Lines.size(); ++I) {
        const QByteArray &Line = Lines[I];
        const QString N = QString::number(I + 1);
        if (!StartsWithAscii(Line, "http://"))
            return {false, QStringLiteral("Not a http url at line ") + N};
        const QByteArray Name = DocumentName(Line);
        if (Name.isEmpty())
            return {false, QStringLiteral("Not find any file name at line ") + N};
        if (!IsAcceptedAudioName(Name))
            return {false, QStringLiteral("Not Support this file type at line ") + N};
    }
    return {};
}

TInputURLsDialog::TInputURLsDialog(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Input Internet URLs"));
    setFixedSize(399, 335);

    FPromptLabel =
        new QLabel(QStringLiteral("URL like: http://www.example.com/music/audio.mp3"), this);
    FURLsEdit = new QPlainTextEdit(this);
    FURLsEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    FURLsEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FURLsEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FURLsEdit->setTabChangesFocus(true);
    FLoadButton = new QPushButton(QStringLiteral("Load"), this);
    FSaveButton = new QPushButton(QStringLiteral("Save"), this);
    FOKButton = new QPushButton(QStringLiteral("OK"), this);
    FCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton *Button : {FLoadButton, FSaveButton, FCancelButton})
        Button->setAutoDefault(false);
    FOKButton->setDefault(true);

    auto *Buttons = new QHBoxLayout;
    Buttons->addWidget(FLoadButton);
    Buttons->addWidget(FSaveButton);
    Buttons->addStretch(1);
    Buttons->addWidget(FOKButton);
    Buttons->addWidget(FCancelButton);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);
    Layout->addWidget(FPromptLabel);
    Layout->addWidget(FURLsEdit, 1);
    Layout->addLayout(Buttons);
    setTabOrder(FURLsEdit, FLoadButton);
    FURLsEdit->setFocus();

    // Their file dialogs and error boxes run after the click has returned.
    for (const auto &[Button, Slot] : {std::pair{FLoadButton, &TInputURLsDialog::LoadURLList},
                                       {FSaveButton, &TInputURLsDialog::SaveURLList},
                                       {FOKButton, &TInputURLsDialog::AcceptInput}})
        connect(Button, &QPushButton::clicked, this, Slot, Qt::QueuedConnection);
    connect(FCancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

QByteArrayList TInputURLsDialog::URLLines() const {
    return SplitLines(FURLsEdit->toPlainText().toUtf8());
}

bool TInputURLsDialog::LoadURLFile(const QString &Path) {
    QFile File(Path);
    QByteArray Text;
    bool Ok = File.open(QIODevice::ReadOnly);
    if (Ok) {
        Text = File.readAll();
        Ok = File.error() == QFileDevice::NoError;
    }
    if (!Ok) {
        ShowErrorBox(this, FileError("Cannot open file", Path, File.errorString()));
        return false;
    }
    QByteArray Shown = SplitLines(Text).join('\n');
    if (EndsWithLineBreak(Text))
        Shown += '\n';
    FURLsEdit->setPlainText(QString::fromUtf8(Shown));
    return true;
}

bool TInputURLsDialog::SaveURLFile(const QString &Path) {
    // The box keeps LF; the file's lines end in CR LF, and only where the box has
    // a line break.
    QByteArray Text = FURLsEdit->toPlainText().toUtf8();
    Text.replace('\n', "\r\n");
    QSaveFile File(Path);
    if (File.open(QIODevice::WriteOnly) && File.write(Text) == Text.size() && File.commit())
        return true;
    ShowErrorBox(this, FileError("Cannot create file", Path, File.errorString()));
    File.cancelWriting();
    return false;
}

bool TInputURLsDialog::AskURLFileName(QFileDialog::AcceptMode Mode) {
    const bool Open = Mode == QFileDialog::AcceptOpen;
    QFileDialog Dialog(this, Open ? QStringLiteral("Open") : QStringLiteral("Save As"));
    Dialog.setAcceptMode(Mode);
    Dialog.setFileMode(Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    Dialog.setNameFilter(URLFileFilter);
    Dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (!FURLFileName.isEmpty())
        Dialog.selectFile(FURLFileName);
    if (ExecModal(Dialog) != QDialog::Accepted || Dialog.selectedFiles().isEmpty())
        return false;
    FURLFileName = Dialog.selectedFiles().first();
    return true;
}

void TInputURLsDialog::LoadURLList() {
    if (AskURLFileName(QFileDialog::AcceptOpen))
        LoadURLFile(FURLFileName);
}

void TInputURLsDialog::SaveURLList() {
    if (AskURLFileName(QFileDialog::AcceptSave))
        SaveURLFile(FURLFileName);
}

void TInputURLsDialog::AcceptInput() {
    const TURLCheck Check = CheckURLLines(FURLsEdit->toPlainText());
    if (!Check.Ok) {
        ShowErrorBox(this, Check.Message);
        return;
    }
    accept();
}
