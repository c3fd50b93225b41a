// A port backend that passes everything to another and writes what passed to a line trace.
#pragma once

#include <memory>

#include "serial/line_trace.h"
#include "serial/port_backend.h"

namespace serial {

std::unique_ptr<PortBackend> MakeTracingBackend(std::unique_ptr<PortBackend> inner,
                                                std::shared_ptr<LineTrace> trace);

}  // namespace serial
