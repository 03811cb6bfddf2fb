#include "InputURLs.h"

#include "Modal.h"
#include "Utils.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

const QString TFormInputURLs::URLFileFilter = QStringLiteral("Urls text file (*.txt)");

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

TFormInputURLs::TFormInputURLs(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Input Internet URLs"));
    setFixedSize(399, 335);

    Label1 = new QLabel(QStringLiteral("URL like: http://www.example.com/music/audio.mp3"), this);
    suiMemoURLs = new QPlainTextEdit(this);
    suiMemoURLs->setLineWrapMode(QPlainTextEdit::NoWrap);
    suiMemoURLs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    suiMemoURLs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    suiMemoURLs->setTabChangesFocus(true);
    ButtonLoad = new QPushButton(QStringLiteral("Load"), this);
    ButtonSave = new QPushButton(QStringLiteral("Save"), this);
    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton *Button : {ButtonLoad, ButtonSave, Button2})
        Button->setAutoDefault(false);
    ButtonOK->setDefault(true);

    auto *Buttons = new QHBoxLayout;
    Buttons->addWidget(ButtonLoad);
    Buttons->addWidget(ButtonSave);
    Buttons->addStretch(1);
    Buttons->addWidget(ButtonOK);
    Buttons->addWidget(Button2);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);
    Layout->addWidget(Label1);
    Layout->addWidget(suiMemoURLs, 1);
    Layout->addLayout(Buttons);
    setTabOrder(suiMemoURLs, ButtonLoad);
    suiMemoURLs->setFocus();

    connect(ButtonLoad, &QPushButton::clicked, this, &TFormInputURLs::ButtonLoadClick);
    connect(ButtonSave, &QPushButton::clicked, this, &TFormInputURLs::ButtonSaveClick);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormInputURLs::suiButtonOKClick);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

QByteArrayList TFormInputURLs::URLLines() const {
    return SplitLines(suiMemoURLs->toPlainText().toUtf8());
}

bool TFormInputURLs::LoadURLFile(const QString &Path) {
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
    suiMemoURLs->setPlainText(QString::fromUtf8(Shown));
    return true;
}

bool TFormInputURLs::SaveURLFile(const QString &Path) {
    // The box keeps LF; the file's lines end in CR LF, and only where the box has
    // a line break.
    QByteArray Text = suiMemoURLs->toPlainText().toUtf8();
    Text.replace('\n', "\r\n");
    QSaveFile File(Path);
    if (File.open(QIODevice::WriteOnly) && File.write(Text) == Text.size() && File.commit())
        return true;
    ShowErrorBox(this, FileError("Cannot create file", Path, File.errorString()));
    File.cancelWriting();
    return false;
}

bool TFormInputURLs::AskURLFileName(QFileDialog::AcceptMode Mode) {
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

void TFormInputURLs::ButtonLoadClick() {
    if (AskURLFileName(QFileDialog::AcceptOpen))
        LoadURLFile(FURLFileName);
}

void TFormInputURLs::ButtonSaveClick() {
    if (AskURLFileName(QFileDialog::AcceptSave))
        SaveURLFile(FURLFileName);
}

void TFormInputURLs::suiButtonOKClick() {
    const TURLCheck Check = CheckURLLines(suiMemoURLs->toPlainText());
    if (!Check.Ok) {
        ShowErrorBox(this, Check.Message);
        return;
    }
    accept();
}
