// Tests, tools and benchmarks live apart from the application; they find the model reader
// in the build tree.
#include "ModelReaderProcess.h"

namespace {
const bool readerLocated = [] {
    ModelReaderProcess::setReaderPath(QStringLiteral(TUFTMILL_READER_PATH));
    return true;
}();
} // namespace
