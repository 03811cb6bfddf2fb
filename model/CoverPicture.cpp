#include "CoverPicture.h"

#include "AsciiText.h"
#include "ReadUpTo.h"

#include <QCryptographicHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

QByteArray CoverHashOf(QByteArrayView Picture) {
    return QCryptographicHash::hash(Picture, QCryptographicHash::Sha256)
        .first(CoverHashChars / 2)
        .toHex();
}

bool IsCoverHash(QByteArrayView Text) {
    return Text.size() == CoverHashChars && std::all_of(Text.begin(), Text.end(), [](char C) {
               return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f');
           });
}

QByteArray FolderOf(const QByteArray &Path) {
    const qsizetype Slash = Path.lastIndexOf('/');
    return Slash <= 0 ? QByteArray("/") : Path.left(Slash);
}

QByteArray FolderCoverFile(const QByteArray &Folder) {
    static constexpr std::array<const char *, 9> Names{"cover.jpg",  "cover.jpeg",  "cover.png",
                                                       "folder.jpg", "folder.jpeg", "folder.png",
                                                       "front.jpg",  "front.jpeg",  "front.png"};
    DIR *Dir = ::opendir(Folder.constData());
    if (!Dir)
        return {};
    QByteArray Best;
    size_t BestRank = Names.size();
    while (const dirent *Entry = ::readdir(Dir)) {
        const QByteArray Name = AsciiLower(QByteArray(Entry->d_name));
        for (size_t Rank = 0; Rank < BestRank; ++Rank)
            if (Name == Names[Rank]) {
                Best = Entry->d_name;
                BestRank = Rank;
                break;
            }
    }
    ::closedir(Dir);
    return Best.isEmpty() ? Best : Folder + '/' + Best;
}

QByteArray ReadPictureFile(const QByteArray &Path) {
    const int Fd = ::open(Path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0)
        return {};
    QByteArray Data;
    struct stat Info {};
    if (::fstat(Fd, &Info) == 0 && S_ISREG(Info.st_mode) && Info.st_size <= MaxCoverBytes) {
        Data = ReadUpTo(Fd, qsizetype(Info.st_size));
        // A file cut short while it was read is not that picture.
        if (Data.size() != Info.st_size)
            Data.clear();
    }
    ::close(Fd);
    return Data;
}
