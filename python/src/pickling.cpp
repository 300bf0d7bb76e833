// Pickling with the old protocols 0 and 1, which build an object without its constructor and
// would leave a C++ object that does not exist: a class that pickles (PartialQuery, made again
// from its bytes) pickles the same way with them, the others refuse them as they refuse the newer
// ones.
#include <string>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {

void bind_pickling(py::module_& module) {
  for (const char* name : {"Profile", "QueryReport", "GroupSummary", "SampleRecord",
                           "MetadataEntry", "PartialQuery"}) {
    py::object type = module.attr(name);
    const py::object newer = type.attr("__reduce_ex__");
    const std::string qualified = std::string("zel_profile.") + name;
    type.attr("__reduce_ex__") = py::cpp_function(
        [type, newer, qualified](const py::object& self, int protocol) -> py::object {
          if (protocol >= 2) return newer(self, protocol);
          if (py::hasattr(type, "from_bytes")) {
            return py::make_tuple(type, py::make_tuple(self.attr("to_bytes")()));
          }
          throw py::type_error("cannot pickle '" + qualified + "' object");
        },
        py::is_method(type), py::arg("protocol"));
  }
}

}  // namespace zel_python
