#include "GroupWire.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

// Each kind's fields in order: i a number, t a text, L the list (at most one).
const char *Layout(quint8 Kind) {
    switch (TGroupKind(Kind)) {
    case TGroupKind::Hello:
        return "titiiiit";
    case TGroupKind::Members:
    case TGroupKind::List:
        return "L";
    case TGroupKind::Anchor:
        return "iiiit";
    case TGroupKind::Command:
        return "tL";
    case TGroupKind::Report:
        return "iiit";
    case TGroupKind::SetVolume:
        return "ii";
    case TGroupKind::Bye:
        return "t";
    case TGroupKind::Ping:
        return "";
    }
    return nullptr;
}

int CountOf(const char *Layout, char Field) {
    int N = 0;
    for (const char *C = Layout; *C; ++C)
        N += *C == Field;
    return N;
}

void AppendText(QByteArray &Out, const QByteArray &Text) {
    char Size[4];
    qToBigEndian<quint32>(quint32(Text.size()), Size);
    Out.append(Size, 4).append(Text);
}

// Reads fields from a body, refusing anything past its end or past the limits.
struct TBodyReader {
    QByteArrayView Body;
    qsizetype Pos = 0;

    std::optional<quint32> Count() {
        if (Body.size() - Pos < 4)
            return std::nullopt;
        const quint32 N = qFromBigEndian<quint32>(Body.data() + Pos);
        Pos += 4;
        return N;
    }
    std::optional<qint64> Number() {
        if (Body.size() - Pos < 8)
            return std::nullopt;
        const qint64 N = qFromBigEndian<qint64>(Body.data() + Pos);
        Pos += 8;
        return N;
    }
    std::optional<QByteArray> Text() {
        const std::optional<quint32> Size = Count();
        if (!Size || *Size > MaxGroupText || Body.size() - Pos < qsizetype(*Size))
            return std::nullopt;
        QByteArray Out = Body.sliced(Pos, *Size).toByteArray();
        Pos += *Size;
        return Out;
    }
};

QByteArray CleanField(QByteArray Field) {
    Field.replace('\t', ' ').replace('\r', ' ').replace('\n', ' ');
    if (Field.size() > MaxRoomField) {
        qsizetype Cut = MaxRoomField;
        // Never inside a UTF-8 sequence.
        while (Cut > 0 && (static_cast<unsigned char>(Field[Cut]) & 0xC0) == 0x80)
            --Cut;
        Field.truncate(Cut);
    }
    return Field;
}

} // namespace

QByteArray EncodeGroupRecord(const TGroupRecord &Record) {
    const char *Fields = Layout(quint8(Record.Kind));
    if (!Fields || Record.Numbers.size() != CountOf(Fields, 'i') ||
        Record.Texts.size() != CountOf(Fields, 't') ||
        (CountOf(Fields, 'L') == 0 && !Record.Items.isEmpty()) ||
        Record.Items.size() > MaxGroupListCount)
        return {};
    QByteArray Out(4, '\0');
    Out.append(char(Record.Kind));
    int Number = 0, Text = 0;
    for (const char *C = Fields; *C; ++C) {
        if (*C == 'i') {
            char Bytes[8];
            qToBigEndian<qint64>(Record.Numbers[Number++], Bytes);
            Out.append(Bytes, 8);
        } else if (*C == 't') {
            if (Record.Texts[Text].size() > MaxGroupText)
                return {};
            AppendText(Out, Record.Texts[Text++]);
        } else {
            char Count[4];
            qToBigEndian<quint32>(quint32(Record.Items.size()), Count);
            Out.append(Count, 4);
            for (const QByteArray &Item : Record.Items) {
                if (Item.size() > MaxGroupText)
                    return {};
                AppendText(Out, Item);
            }
        }
    }
    if (Out.size() - 4 > MaxGroupRecord)
        return {};
    qToBigEndian<quint32>(quint32(Out.size() - 4), Out.data());
    return Out;
}

std::optional<TGroupRecord> DecodeGroupRecord(QByteArrayView Bytes) {
    if (Bytes.isEmpty())
        return std::nullopt;
    const char *Fields = Layout(quint8(Bytes[0]));
    if (!Fields)
        return std::nullopt;
    TGroupRecord Record;
    Record.Kind = TGroupKind(quint8(Bytes[0]));
    TBodyReader Body{Bytes.sliced(1)};
    for (const char *C = Fields; *C; ++C) {
        if (*C == 'i') {
            const std::optional<qint64> N = Body.Number();
            if (!N)
                return std::nullopt;
            Record.Numbers.append(*N);
        } else if (*C == 't') {
            std::optional<QByteArray> T = Body.Text();
            if (!T)
                return std::nullopt;
            Record.Texts.append(std::move(*T));
        } else {
            const std::optional<quint32> Count = Body.Count();
            // Each text takes at least its length field: a count cannot promise more.
            if (!Count || *Count > MaxGroupListCount ||
                qint64(*Count) * 4 > Body.Body.size() - Body.Pos)
                return std::nullopt;
            Record.Items.reserve(*Count);
            for (quint32 I = 0; I < *Count; ++I) {
                std::optional<QByteArray> T = Body.Text();
                if (!T)
                    return std::nullopt;
                Record.Items.append(std::move(*T));
            }
        }
    }
    if (Body.Pos != Body.Body.size())
        return std::nullopt;
    return Record;
}

TGroupRecord HelloRecord(const TGroupHello &Hello) {
    return {TGroupKind::Hello,
            {Hello.Version, qint64(Hello.Intent), Hello.Group, Hello.Token, Hello.Port},
            {GroupLinkMagic, Hello.Name, Hello.Reason},
            {}};
}

std::optional<TGroupHello> ReadHello(const TGroupRecord &Record) {
    if (Record.Kind != TGroupKind::Hello || Record.Text(0) != GroupLinkMagic)
        return std::nullopt;
    TGroupHello Hello;
    Hello.Version = Record.Number(0);
    Hello.Name = Record.Text(1);
    Hello.Intent = TGroupIntent(Record.Number(1));
    Hello.Group = Record.Number(2);
    Hello.Token = Record.Number(3);
    Hello.Port = Record.Number(4);
    Hello.Reason = Record.Text(2);
    return Hello;
}

TGroupRecord AnchorRecord(const TGroupAnchor &Anchor) {
    const double Ns = std::round(Anchor.Position * 1e9);
    return {TGroupKind::Anchor,
            {Anchor.GroupTime, qint64(std::clamp(Ns, 0.0, 9e18)), qint64(Anchor.Play),
             qint64(Anchor.Serial)},
            {Anchor.Url},
            {}};
}

std::optional<TGroupAnchor> ReadAnchor(const TGroupRecord &Record) {
    if (Record.Kind != TGroupKind::Anchor || Record.Numbers.size() != 4)
        return std::nullopt;
    const qint64 Play = Record.Number(2), Serial = Record.Number(3);
    if (Record.Number(0) < 0 || Record.Number(1) < 0 || Play < 0 ||
        Play > qint64(TGroupPlay::Playing) || Serial < 0 || Serial > qint64(UINT32_MAX))
        return std::nullopt;
    return TGroupAnchor{quint32(Serial), Record.Text(0), TGroupPlay(Play),
                        double(Record.Number(1)) / 1e9, Record.Number(0)};
}

QByteArray FormatRoomLine(const TRoomLine &Room) {
    return CleanField(Room.Host) + '\t' + CleanField(Room.Name) + '\t' +
           QByteArray::number(qBound(0, Room.Volume, 100)) + '\t' + (Room.Mute ? "1" : "0") + '\t' +
           CleanField(Room.Status);
}

std::optional<TRoomLine> ParseRoomLine(QByteArrayView Line) {
    const QByteArrayList Fields = Line.toByteArray().split('\t');
    if (Fields.size() != 5)
        return std::nullopt;
    for (const QByteArray &Field : Fields)
        if (Field.size() > MaxRoomField || Field.contains('\r') || Field.contains('\n'))
            return std::nullopt;
    bool VolumeOk = false;
    const int Volume = Fields[2].toInt(&VolumeOk);
    if (!VolumeOk || Volume < 0 || Volume > 100 || (Fields[3] != "0" && Fields[3] != "1"))
        return std::nullopt;
    return TRoomLine{Fields[0], Fields[1], Volume, Fields[3] == "1", Fields[4]};
}

void TGroupLinkReader::Feed(QByteArrayView Bytes) {
    while (!FFailed && !Bytes.isEmpty()) {
        if (FBuffer.size() < 4) {
            const qsizetype Take = std::min<qsizetype>(4 - FBuffer.size(), Bytes.size());
            FBuffer.append(Bytes.first(Take));
            Bytes = Bytes.sliced(Take);
            if (FBuffer.size() < 4)
                return;
            const quint32 Length = qFromBigEndian<quint32>(FBuffer.constData());
            if (Length == 0 || Length > (FFirstRead ? MaxGroupRecord : FFirstMax)) {
                FFailed = true;
                break;
            }
            FWanted = 4 + qint64(Length);
            FFirstRead = true;
            // Grown as bytes come, never ahead of them: a length alone reserves nothing.
        }
        const qsizetype Take = qsizetype(std::min<qint64>(FWanted - FBuffer.size(), Bytes.size()));
        FBuffer.append(Bytes.first(Take));
        Bytes = Bytes.sliced(Take);
        if (FBuffer.size() < FWanted)
            return;
        std::optional<TGroupRecord> Record = DecodeGroupRecord(QByteArrayView(FBuffer).sliced(4));
        FBuffer.clear();
        FBuffer.squeeze();
        if (!Record) {
            FFailed = true;
            break;
        }
        FReady.push_back(std::move(*Record));
    }
    if (FFailed) {
        FBuffer.clear();
        FBuffer.squeeze();
    }
}

std::optional<TGroupRecord> TGroupLinkReader::Next() {
    if (FReady.empty())
        return std::nullopt;
    TGroupRecord Record = std::move(FReady.front());
    FReady.pop_front();
    return Record;
}
