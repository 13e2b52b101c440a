#include "app/TunerApp.h"
#include "res/resource.h"

CTunerApp theApp;

int main(int argc, char** argv) {
  AfxSetOwnResourceModule(OwnResources());
  return AfxWinMain(argc, argv);
}
