#include "CoverStore.h"
#include "LibraryTags.h"
#include "TagReader.h"
#include "TagScanner.h"
#include "Thumbnail.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>

namespace {

using TPictures = QList<std::pair<int, QByteArray>>; // ID3v2 picture type, bytes
const int Front = TagLib::ID3v2::AttachedPictureFrame::FrontCover;
const int Other = TagLib::ID3v2::AttachedPictureFrame::Other;

QByteArray Jpeg(Qt::GlobalColor Color) {
    QImage Image(640, 480, QImage::Format_RGB32);
    Image.fill(Color);
    QByteArray Data;
    QBuffer Out(&Data);
    Out.open(QIODevice::WriteOnly);
    Image.save(&Out, "JPEG");
    return Data;
}

TagLib::ByteVector Bytes(const QByteArray &Data) {
    return TagLib::ByteVector(Data.constData(), uint(Data.size()));
}

// Tags the file at Path, with Pictures where its format keeps them.
bool Tag(const QByteArray &Path, const QString &Album, const TPictures &Pictures) {
    using namespace TagLib;
    FileRef Ref(Path.constData());
    Ref.tag()->setTitle("Song");
    Ref.tag()->setAlbum(String(Album.toStdWString()));
    for (const auto &[Type, Data] : Pictures) {
        auto *Flac = new FLAC::Picture;
        Flac->setType(FLAC::Picture::Type(Type));
        Flac->setData(Bytes(Data));
        if (auto *F = dynamic_cast<FLAC::File *>(Ref.file()))
            F->addPicture(Flac);
        else if (auto *Ogg = dynamic_cast<Ogg::Vorbis::File *>(Ref.file()))
            Ogg->tag()->addPicture(Flac);
        else
            delete Flac;
        if (auto *M = dynamic_cast<MPEG::File *>(Ref.file())) {
            auto *Frame = new ID3v2::AttachedPictureFrame;
            Frame->setType(ID3v2::AttachedPictureFrame::Type(Type));
            Frame->setPicture(Bytes(Data));
            M->ID3v2Tag(true)->addFrame(Frame);
        } else if (auto *Mp4 = dynamic_cast<MP4::File *>(Ref.file())) {
            MP4::CoverArtList List = Mp4->tag()->item("covr").toCoverArtList();
            Mp4->tag()->setItem("covr", List.append({MP4::CoverArt::JPEG, Bytes(Data)}));
        } else if (auto *Asf = dynamic_cast<ASF::File *>(Ref.file())) {
            ASF::Picture P;
            P.setType(ASF::Picture::Type(Type));
            P.setPicture(Bytes(Data));
            Asf->tag()->addAttribute("WM/Picture", P);
        }
    }
    return Ref.save();
}

} // namespace

class TestCovers : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QHash<QString, QByteArray> FTones; // by extension: a tiny file made once

    // A tagged tone at Name (under the test folder) holding Pictures.
    QByteArray Track(const QString &Name, const QString &Album, const TPictures &Pictures) {
        const QString Ext = QFileInfo(Name).suffix();
        if (!FTones.contains(Ext)) {
            const QString Tone = FDir.filePath("tone." + Ext);
            QProcess Encoder;
            Encoder.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                     "sine=duration=0.2:sample_rate=8000", "-ac", "1", Tone});
            if (!Encoder.waitForFinished(60000) || Encoder.exitCode() != 0)
                return {};
            FTones[Ext] = QFile::encodeName(Tone);
        }
        const QString Path = FDir.filePath(Name);
        QDir().mkpath(QFileInfo(Path).path());
        QFile::remove(Path);
        if (!QFile::copy(QFile::decodeName(FTones[Ext]), Path))
            return {};
        const QByteArray File = QFile::encodeName(Path);
        return Tag(File, Album, Pictures) ? File : QByteArray();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    // A picture's pixels are counted before it is decoded: at the bound, and a row past it.
    void pixelBound() {
        for (const int Height : {int(MaxCoverPixels / 6000), int(MaxCoverPixels / 6000 + 1)}) {
            QImage Image(6000, Height, QImage::Format_RGB888); // decoded scaled, not whole
            Image.fill(0);
            QByteArray Png;
            QBuffer Out(&Png);
            QVERIFY(Out.open(QIODevice::WriteOnly) && Image.save(&Out, "PNG"));
            QCOMPARE(ThumbnailJpeg(Png, 96).isEmpty(), Height * 6000 > MaxCoverPixels);
        }
    }

    void embedded_data() {
        QTest::addColumn<QString>("Name");
        QTest::addColumn<TPictures>("Pictures");
        QTest::addColumn<int>("Chosen"); // index in Pictures, -1: none
        const QByteArray A = Jpeg(Qt::red), B = Jpeg(Qt::blue);
        const QByteArray Huge(50 * 1024 * 1024, 'x');
        QTest::newRow("none") << "e.mp3" << TPictures{} << -1;
        QTest::newRow("front cover after another")
            << "e.mp3" << TPictures{{Other, A}, {Front, B}} << 1;
        QTest::newRow("no front cover: the first") << "e.mp3" << TPictures{{Other, A}, {4, B}} << 0;
        QTest::newRow("50 MB picture") << "e.mp3" << TPictures{{Front, Huge}} << -1;
        QTest::newRow("50 MB front, then another")
            << "e.mp3" << TPictures{{Front, Huge}, {4, B}} << 1;
        for (const char *Name : {"e.flac", "e.ogg", "e.wma"})
            QTest::newRow(Name) << Name << TPictures{{Other, A}, {Front, B}} << 1;
        QTest::newRow("e.m4a") << "e.m4a" << TPictures{{Other, A}, {Front, B}} << 0;
    }
    void embedded() {
        QFETCH(QString, Name);
        QFETCH(TPictures, Pictures);
        QFETCH(int, Chosen);
        const QByteArray Path = Track(Name, "Album", Pictures);
        QVERIFY(!Path.isEmpty());
        const TFileTags Got = ReadFileTags(Path, StampOf(Path));
        QCOMPARE(Got.Tags.Title, "Song");
        QCOMPARE(Got.Tags.EmbeddedCover,
                 Chosen < 0 ? QByteArray() : CoverHashOf(Pictures[Chosen].second));
    }

    void library_data() {
        QTest::addColumn<QStringList>("Albums"); // of the folder's tracks
        QTest::addColumn<bool>("Embedded");      // the first track has a picture
        QTest::addColumn<bool>("FolderFirst");
        QTest::addColumn<QString>("Shown"); // the first track's cover: embedded, folder or none
        const QStringList One{"X", "X"}, Two{"X", "Y"};
        QTest::newRow("one album: embedded wins") << One << true << false << "embedded";
        QTest::newRow("one album: folder wins when set") << One << true << true << "folder";
        QTest::newRow("one album, nothing embedded") << One << false << false << "folder";
        QTest::newRow("two albums: no folder cover") << Two << false << true << "none";
        QTest::newRow("two albums: embedded only") << Two << true << true << "embedded";
    }
    void library() {
        QFETCH(QStringList, Albums);
        QFETCH(bool, Embedded);
        QFETCH(bool, FolderFirst);
        QFETCH(QString, Shown);
        const QString Folder = QTest::currentDataTag();
        const QByteArray Own = Jpeg(Qt::green), Image = Jpeg(Qt::yellow);
        QByteArrayList Sources;
        for (int I = 0; I < Albums.size(); ++I)
            Sources.append(Track(QString("%1/%2.mp3").arg(Folder).arg(I), Albums[I],
                                 I == 0 && Embedded ? TPictures{{Front, Own}} : TPictures{}));
        QFile Cover(FDir.filePath(Folder + "/Cover.JPG"));
        QVERIFY(Cover.open(QIODevice::WriteOnly) && Cover.write(Image) == Image.size());
        Cover.close();
        TTagScanner Scanner(VX_TAGSCAN_EXE);
        const QHash<QString, QByteArray> Hashes{
            {"embedded", CoverHashOf(Own)}, {"folder", CoverHashOf(Image)}, {"none", {}}};
        // Rows the scanner read, then rows made from the cache off the GUI thread, choose alike.
        for (const bool FromCache : {false, true}) {
            TLibraryTags Tags(&Scanner, FDir.filePath(Folder + "/tags.bin"));
            Tags.SetCoverSource(FolderFirst ? TCoverSource::Folder : TCoverSource::Embedded);
            QSignalSpy Done(&Tags,
                            FromCache ? &TLibraryTags::RowsReset : &TLibraryTags::ScanFinished);
            FromCache ? Tags.UpdateSources(Sources) : Tags.SetSources(Sources);
            QVERIFY(Done.wait(30000));
            QCOMPARE(Tags.Tags(0).CoverHash, Hashes[Shown]);
        }
    }

    // Twelve tracks with one picture make one thumbnail per size; a corrupt picture costs
    // its own cover only.
    void store() {
        const QByteArray Shared = Jpeg(Qt::cyan), Corrupt = "\xff\xd8\xff not a picture";
        QByteArrayList Sources;
        for (int I = 0; I < 12; ++I)
            Sources.append(Track(QString("store/%1.mp3").arg(I), "S", {{Front, Shared}}));
        Sources.append(Track("corrupt/c.mp3", "C", {{Front, Corrupt}}));
        TTagScanner Scanner(VX_TAGSCAN_EXE);
        TLibraryTags Tags(&Scanner, FDir.filePath("store/tags.bin"));
        QSignalSpy Done(&Tags, &TLibraryTags::ScanFinished);
        Tags.SetSources(Sources);
        QVERIFY(Done.wait(30000));
        const QString Folder = FDir.filePath("thumbnails");
        TCoverStore Store(Folder, VX_TAGSCAN_EXE);
        Store.Follow(&Tags);
        QSignalSpy Ready(&Store, &TCoverStore::Ready), Failed(&Store, &TCoverStore::Failed);
        // As the web route asks: made while the caller waits.
        QByteArray Jpeg;
        QCOMPARE(Store.Source()->Thumbnail(CoverHashOf(Shared), 96, 30000, Jpeg),
                 TThumbnailSource::TResult::Made);
        QCOMPARE(QImage::fromData(Jpeg).size(), QSize(96, 72));
        // Asked twice while it is made: made once, said once.
        for (const int Size : {300, 300})
            Store.Request(CoverHashOf(Shared), Size);
        Store.Request(CoverHashOf(Corrupt), 96);
        QVERIFY(QTest::qWaitFor([&] { return Ready.size() + Failed.size() == 3; }, 30000));
        QCOMPARE(Failed.size(), 1);
        QCOMPARE(Failed[0][0].toByteArray(), CoverHashOf(Corrupt));
        QCOMPARE(QDir(Folder).entryList(QDir::Files).size(), 2);
        QVERIFY(!Store.ThumbnailFile(CoverHashOf(Shared), 300).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCovers)
#include "tst_covers.moc"
