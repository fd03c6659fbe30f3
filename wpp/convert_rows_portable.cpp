// A CPU family with no paths of its own converts through the reference.

#include "wpp/convert_rows.h"

namespace wpp {

RowConverter RowConverterFor(ConvertPath path) {
  return path == ConvertPath::Scalar ? ConvertRowScalar : nullptr;
}

RowConverter RowExpanderFor(ConvertPath path) {
  return path == ConvertPath::Scalar ? ExpandRowScalar : nullptr;
}

ConvertPath PickConvertPath() { return ConvertPath::Scalar; }
ConvertPath PickExpandPath() { return ConvertPath::Scalar; }

}  // namespace wpp
