/* The floor for listing a PAK: one read of the header and the directory, one formatted line
 * per record, nothing else. bench_containers runs `tarn-pak list` against it. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int32_t get32(const unsigned char* p) {
  return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* f = fopen(argv[1], "rb");
  unsigned char header[12];
  if (!f || fread(header, 1, 12, f) != 12 || memcmp(header, "PACK", 4) != 0) return 1;
  const int32_t offset = get32(header + 4), length = get32(header + 8);
  if (offset < 0 || length < 0) return 1;
  unsigned char* dir = malloc((size_t)length + 1);
  if (!dir || fseek(f, offset, SEEK_SET) != 0 || fread(dir, 1, (size_t)length, f) != (size_t)length) return 1;
  for (int32_t i = 0; i + 64 <= length; i += 64) printf("%d\t%.56s\n", get32(dir + i + 60), (const char*)dir + i);
  free(dir);
  fclose(f);
  return 0;
}
