// The library file reader. Whatever the file holds, the library keeps one row per source,
// no source holds a line break or NUL, and what is saved reads back the same; adding the
// file's lines again and removing rows keep the rows, the list and the snapshot in step.
#include "AsciiText.h"
#include "MusicLibrary.h"

#include <cstdlib>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

void CheckLibrary(const TMusicLibrary &Library) {
    Check(Library.Count() == Library.Library().size());
    Check(*Library.Snapshot() == Library.Library());
    for (const QByteArray &Source : Library.RowSources())
        Check(!Source.contains('\r') && !Source.contains('\n') && !Source.contains('\0'));
    TMusicLibrary Again;
    Again.LoadFromText(Library.FileText());
    Check(Again.RowSources() == Library.RowSources());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray Text(reinterpret_cast<const char *>(Data), qsizetype(Size));
    TMusicLibrary Library;
    Library.LoadFromText(Text);
    CheckLibrary(Library);
    Check(Library.RowSources() == Library.Library());

    const int Before = Library.Count();
    const int Added = Library.AddBatch(SplitLines(Text));
    Check(Library.Count() == Before + Added);
    CheckLibrary(Library);

    QList<int> Rows;
    for (int Row = 0; Row < Library.Count(); Row += 1 + int(Size % 3))
        Rows.append(Row);
    Library.RemoveRows(Rows);
    CheckLibrary(Library);
    return 0;
}
