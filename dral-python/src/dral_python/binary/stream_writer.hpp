// The Writer class: a stream written to a file a block at a time.
#pragma once

#include <Python.h>

namespace dral_python {

int init_stream_writer(PyObject* module);

}  // namespace dral_python
