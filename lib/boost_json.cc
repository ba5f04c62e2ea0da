// Boost.JSON's compiled part, built once here from its headers, so that no Boost library is linked
// and no other translation unit carries it: every target that parses JSON links this one.
#include <boost/json/src.hpp>
