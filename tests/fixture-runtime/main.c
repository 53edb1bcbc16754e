/* A small Windows program with the runtime's resources: the version template
   and the application icon. The host tests and the packing benchmark pack it
   in place of the runtime, which only the Windows build makes. */
int main(void) { return 0; }
