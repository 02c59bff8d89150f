// Opens the input as a production index, checks every tag's tree and walks it both ways.
#include "fuzzutil.h"
#include "mdxfile.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::MemFile file(data, size);
    qn::MdxFile mdx;
    try {
        mdx.open(file.path(), false);
    } catch (const qn::StoreError& e) {
        fuzz::expectNamed(e, file.path());
        return 0;
    }
    for (int t = 0; t < mdx.tagCount(); ++t) {
        qn::MdxTag& tag = mdx.tag(t);
        try {
            (void)tag.check();
        } catch (const qn::StoreError& e) {
            fuzz::expectNamed(e, file.path());
        }
        // Walks and seeks on a damaged tree must also fail cleanly, not run away.
        try {
            qn::MdxTag::Entry e;
            int steps = 0;
            for (bool ok = tag.first(e); ok && steps < 2000; ++steps)
                ok = tag.next(e.key, e.recno, e);
            steps = 0;
            for (bool ok = tag.last(e); ok && steps < 2000; ++steps)
                ok = tag.prior(e.key, e.recno, e);
            std::string key(size_t(tag.keyLength()), 'M');
            (void)tag.seek(key, 0, e);
            (void)tag.compareKeys(key.data(), key.data());
        } catch (const qn::StoreError& e) {
            fuzz::expectNamed(e, file.path());
        }
    }
    return 0;
}
