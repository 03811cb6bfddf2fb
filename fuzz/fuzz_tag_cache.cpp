// The tag cache reader. Whatever the file holds, it is either refused with no entry kept, or
// read whole, and then what is written back reads again to the same entries. The input is also
// read with a valid digest appended, so that the records behind the digest check are reached.
#include "TagCache.h"

#include <QCryptographicHash>

#include <cstdlib>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

void CheckRead(const QByteArray &Bytes) {
    TTagCache Cache;
    if (!Cache.FromBytes(Bytes)) {
        Check(Cache.Count() == 0);
        return;
    }
    const QByteArray Again = Cache.ToBytes();
    TTagCache Reread;
    Check(Reread.FromBytes(Again));
    Check(Reread.Count() == Cache.Count());
    Check(Reread.ToBytes().size() == Again.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    CheckRead(Bytes);
    CheckRead(Bytes + QCryptographicHash::hash(Bytes, QCryptographicHash::Md5));
    return 0;
}
