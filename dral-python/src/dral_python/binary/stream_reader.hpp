// The Reader class and scan_blocks: a stream read from a file a block at a time.
#pragma once

#include <Python.h>

namespace dral_python {

int init_stream_reader(PyObject* module);

}  // namespace dral_python
