// libkestrun.so: the exports live in the family archives linked whole into this library.
// Loading it only runs the construction of constant data; it has no entry point of its own.
