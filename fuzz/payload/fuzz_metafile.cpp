// The same bytes as both kinds of metafile: a size of at least 0 each way, or a picture failure.
#include "payload/payload.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (auto read : { ormelin::readWindowsMetafileSize, ormelin::readEnhancedMetafileSize }) {
        try {
            const ormelin::PictureSize s = read({ data, size });
            if (s.width < 0 || s.height < 0)
                std::abort();
        } catch (const ormelin::PictureError &) {
        }
    }
    return 0;
}
