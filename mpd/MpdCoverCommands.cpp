// Covers for clients: "albumart" (the folder's image, else the picture in the file) and
// "readpicture" (the picture in the file), in chunks of the client's binary limit.
#include "CoverPicture.h"
#include "MpdDoor.h"
#include "MpdLibraryDoor.h"

namespace {

QByteArray PictureType(const QByteArray &Bytes) {
    if (Bytes.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (Bytes.startsWith("\x89PNG"))
        return "image/png";
    if (Bytes.startsWith("GIF8"))
        return "image/gif";
    return {};
}

} // namespace

void TMpdLibraryDoor::AddCoverCommands() {
    for (const bool FileFirst : {false, true}) {
        const char *Word = FileFirst ? "readpicture" : "albumart";
        FDoor.Commands().Add(
            {Word, 2, 2, [this, FileFirst](TMpdCall &Call) {
                 const TMpdLibraryPtr Now = Library();
                 QByteArray Uri = Call.Args[0];
                 while (Uri.startsWith('/'))
                     Uri.remove(0, 1);
                 const int Row = Now->RowOf(Uri);
                 if (Row < 0)
                     MpdFail(TMpdAck::NoExist, "No such file");
                 const qsizetype Offset = MpdInteger(Call.Args[1], 0, MaxCoverBytes);
                 const TTrackTags &Tags = Now->Tags(Row);
                 const bool Embedded = FileFirst || Tags.FolderCover.isEmpty();
                 const QByteArray Hash = Embedded ? Tags.EmbeddedCover : Tags.FolderCover;
                 const QByteArray Path = Now->Source(Row);
                 const quint64 Client = Call.Client.Id;
                 const qsizetype Limit = Call.Client.BinaryLimit;
                 Call.Out.Stream([=, this](TMpdResponse &Out) {
                     const std::optional<QByteArray> Bytes =
                         Hash.isEmpty() ? QByteArray() : Picture(Hash, Path, Embedded, Client);
                     if (!Bytes) {
                         Out.Wait();
                         return false;
                     }
                     if (Bytes->isEmpty()) {
                         // MPD answers a file without a picture with nothing at all.
                         if (FileFirst)
                             return true;
                         MpdFail(TMpdAck::NoExist, "No file exists");
                     }
                     if (Offset > Bytes->size())
                         MpdFail(TMpdAck::Arg, "Offset too large");
                     Out.Add("size", qint64(Bytes->size()));
                     if (FileFirst && !PictureType(*Bytes).isEmpty())
                         Out.Add("type", PictureType(*Bytes));
                     Out.AddBinary(QByteArrayView(*Bytes).sliced(Offset).first(
                         std::min(Limit, Bytes->size() - Offset)));
                     return true;
                 });
             }});
    }
}
