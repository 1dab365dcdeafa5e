// TEA, the Tiny Encryption Algorithm: 64-bit blocks, a 128-bit key, 32 cycles. The editor's descriptions are
// shipped encrypted with it and decrypted block by block when the editor is built.
#pragma once

class Tea {
 public:
  // One 8-byte block in place; bytes 0..3 and 4..7 are the two words, most significant byte first.
  void simpledecrypt(unsigned char* block, unsigned int* key);
  void simpleencrypt(unsigned char* block, unsigned int* key);

  // Two words in place, in the machine's own byte order.
  void decryptTea(unsigned int* words, unsigned int* key);
  void encryptTea(unsigned int* words, unsigned int* key);

  // Whole buffers with a length trailer: encryptBlock pads to whole blocks, appends one block whose second word
  // is the data length and sets length to the encrypted size; the buffer must hold 8 * ((length + 7) / 8) + 8
  // bytes. decryptBlock decrypts length / 8 blocks and sets length to the stored data length; a length below 8
  // (no trailer) leaves the buffer alone, and a stored length larger than the data blocks gives 0.
  void encryptBlock(unsigned char* buffer, unsigned int* length, unsigned int* key);
  void decryptBlock(unsigned char* buffer, unsigned int* length, unsigned int* key);

  // Debug aid: count bytes as characters, then a newline, to the standard output.
  void printBuffer(unsigned char* buffer, int count);
};
