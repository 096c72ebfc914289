// The two programs, called with their argument vectors: quorbin converts KZP
// images into BMP or PNG files, quorbin-pack packs pictures into KZP files or
// puts them back into archives.  Each returns its exit status.
#pragma once

int quorbin_main(int argc, char** argv);

// Exit status 0 when every picture was packed or put back, 2 when any was
// not, 1 for wrong options or no picture at all.
int quorbin_pack_main(int argc, char** argv);
