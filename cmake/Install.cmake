# Installation: headers, libraries, pkg-config file and CMake package.
