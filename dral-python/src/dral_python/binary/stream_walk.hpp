// _walk_blocks: every block of a stream with its checksums, for `dral inspect`.
#pragma once

#include <Python.h>

namespace dral_python {

int init_stream_walk(PyObject* module);

}  // namespace dral_python
