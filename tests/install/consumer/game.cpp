#include <udra/IResourceManager.h>

int main() {
  IResourceManager* manager = GetResourceManager();
  if (!manager || manager->Reserved(0, 0)) return 1;
  ReleaseResourceManager(manager);
  return 0;
}
