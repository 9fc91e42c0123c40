#pragma once
#include "common/failure.h"

namespace ormelin {

// A picture that cannot be taken: the upload reports it as its own message and sends nothing.
// Every other failure of loading (a file that cannot be opened, a stream cut short in a bitmap's
// headers, no memory) is a plain Failure that the upload leaves to the general failure handler.
class PictureError : public Failure
{
public:
    using Failure::Failure;
};

} // namespace ormelin
