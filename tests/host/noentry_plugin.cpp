// A shared library that is no plug-in: it exports neither VSTPluginMain nor main.
extern "C" __attribute__((visibility("default"))) int vexmirNotAPlugin() {
  return 42;
}
