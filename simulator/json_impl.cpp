// Boost.JSON compiled into this library once, header-only style.
#include <boost/json/src.hpp>
