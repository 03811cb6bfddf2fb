#include "AsciiText.h"

#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>

namespace {

char UpperChar(char C) {
    return (C >= 'a' && C <= 'z') ? char(C - 'a' + 'A') : C;
}
char LowerChar(char C) {
    return (C >= 'A' && C <= 'Z') ? char(C - 'A' + 'a') : C;
}
bool IsBlankOrControl(char C) {
    return static_cast<unsigned char>(C) <= ' ';
}

} // namespace

QByteArray AsciiUpper(QByteArray S) {
    for (char &C : S)
        C = UpperChar(C);
    return S;
}

QByteArray AsciiLower(QByteArray S) {
    for (char &C : S)
        C = LowerChar(C);
    return S;
}

bool SameTextAscii(const QByteArray &A, const QByteArray &B) {
    if (A.size() != B.size())
        return false;
    for (qsizetype I = 0; I < A.size(); ++I)
        if (UpperChar(A[I]) != UpperChar(B[I]))
            return false;
    return true;
}

bool StartsWithAscii(const QByteArray &S, const QByteArray &Prefix) {
    return S.size() >= Prefix.size() && SameTextAscii(S.left(Prefix.size()), Prefix);
}

int HexValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    C = UpperChar(C);
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

QByteArray TrimBlanks(const QByteArray &S) {
    qsizetype B = 0, E = S.size();
    while (B < E && IsBlankOrControl(S[B]))
        ++B;
    while (E > B && IsBlankOrControl(S[E - 1]))
        --E;
    return S.mid(B, E - B);
}

QByteArrayList SplitLines(const QByteArray &Text) {
    QByteArrayList Lines;
    ForEachLine(Text, [&](QByteArrayView Line) { Lines.append(Line.toByteArray()); });
    return Lines;
}

QByteArray JoinLines(const QByteArrayList &Lines) {
    qsizetype Size = 0;
    for (const QByteArray &Line : Lines)
        Size += Line.size() + 2;
    QByteArray Out;
    Out.reserve(Size);
    for (const QByteArray &Line : Lines) {
        Out += Line;
        Out += "\r\n";
    }
    return Out;
}

QByteArray PercentDecode(const QByteArray &S) {
    QByteArray Out;
    Out.reserve(S.size());
    for (qsizetype I = 0; I < S.size(); ++I) {
        if (S[I] != '%') {
            Out.append(S[I]);
            continue;
        }
        const int Hi = I + 1 < S.size() ? HexValue(S[I + 1]) : -1;
        const int Lo = I + 2 < S.size() ? HexValue(S[I + 2]) : -1;
        if (Hi >= 0 && Lo >= 0)
            Out.append(char(Hi * 16 + Lo));
        I += 2; // an invalid escape is dropped with the two characters after "%"
    }
    return Out;
}

QByteArray FileExtension(const QByteArray &Name) {
    const qsizetype Sep =
        std::max(Name.lastIndexOf('/'), std::max(Name.lastIndexOf('\\'), Name.lastIndexOf(':')));
    const qsizetype Dot = Name.lastIndexOf('.');
    if (Dot < 0 || Dot < Sep)
        return {};
    return Name.mid(Dot);
}

QByteArray FileNamePart(const QByteArray &Path) {
    return Path.mid(Path.lastIndexOf('/') + 1);
}

QByteArray DocumentName(const QByteArray &URL) {
    if (!QUrl(QString::fromUtf8(URL), QUrl::TolerantMode).isValid())
        return {};
    // Cut the raw text, so that nothing is decoded or re-encoded on the way.
    const qsizetype Scheme = URL.indexOf("://");
    const qsizetype HostStart = Scheme < 0 ? 0 : Scheme + 3;
    qsizetype End = URL.size();
    for (char C : {'?', '#'}) {
        const qsizetype At = URL.indexOf(C, HostStart);
        if (At >= 0 && At < End)
            End = At;
    }
    const qsizetype PathStart = URL.indexOf('/', HostStart);
    if (PathStart < 0 || PathStart >= End)
        return {};
    const QByteArray Path = URL.mid(PathStart, End - PathStart);
    return Path.mid(Path.lastIndexOf('/') + 1);
}

QString FileError(const char *What, const QString &Path, const QString &Reason) {
    return QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(What), Path, Reason);
}

int AddUniqueString(const QByteArray &S, QByteArrayList &List) {
    if (TrimBlanks(S).isEmpty())
        return -1;
    for (const QByteArray &Entry : List)
        if (SameTextAscii(Entry, S))
            return -1;
    List.append(S);
    return int(List.size() - 1);
}

bool IsValidComputerName(const QByteArray &Name) {
    static const QByteArray Refused = "`~!@#$^&*(){}\\|;:'\"<>/? ";
    if (Name.size() > 260)
        return false;
    for (char C : Refused)
        if (Name.contains(C))
            return false;
    return true;
}

bool SameNameIgnoringSpaces(const QByteArray &A, const QByteArray &B) {
    QByteArray X = A, Y = B;
    X.replace(' ', QByteArray());
    Y.replace(' ', QByteArray());
    return AsciiLower(X) == AsciiLower(Y);
}

quint32 IPv4Value(const QString &Host) {
    const QByteArray Text = Host.toLatin1();
    in_addr Address{};
    // inet_aton takes every dotted form a user may type ("127.1", "0x7f.1") and says
    // when it fails.
    if (Host.isEmpty() || Text.contains('\0') || inet_aton(Text.constData(), &Address) == 0)
        return 0xFFFFFFFFu;
    return ntohl(Address.s_addr);
}
