// Opens the input as a table and reads every record and field.
#include "dbffile.h"
#include "fuzzutil.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::MemFile file(data, size);
    qn::DbfFile dbf;
    try {
        dbf.open(file.path(), false);
    } catch (const qn::StoreError& e) {
        fuzz::expectNamed(e, file.path());
        return 0;
    }
    const auto& fields = dbf.fields();
    unsigned sum = 0;
    const uint32_t count = std::min<uint32_t>(dbf.recordCount(), 4096);
    try {
        for (uint32_t r = 1; r <= count; ++r) {
            const char* rec = dbf.record(r);
            sum += qn::DbfFile::isLive(rec);
            for (const auto& f : fields)
                for (int i = 0; i < f.length; ++i)
                    sum += static_cast<unsigned char>(rec[f.offset + i]);
        }
        dbf.refresh(true);
    } catch (const qn::StoreError& e) {
        fuzz::expectNamed(e, file.path());
    }
    return sum == 0xFFFFFFFFu; // keeps the reads
}
