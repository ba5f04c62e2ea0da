// Deliberately empty. An executable that links the Swift bridge is linked by swiftc (which brings
// the Swift run-time), and CMake's Ninja rules for a swiftc link expect the target to have Swift
// sources of its own; without one the link fails on a missing output file map.
