#ifndef XELMD_CIPHER_TRIPLE_DES_H
#define XELMD_CIPHER_TRIPLE_DES_H

#include "cipher/des.h"

namespace Cipher {

// Three-key DES in encrypt-decrypt-encrypt form. Inherits every block and mode
// function of Des through the overridden process(). Same thread contract as Des.
class TripleDes : public Des {
  public:
    TripleDes(const unsigned char* k1, const unsigned char* k2, const unsigned char* k3);
    ~TripleDes() override;

    // 'e': E(k3, D(k2, E(k1, x))); 'd': D(k1, E(k2, D(k3, x))); otherwise 0.
    unsigned long process(unsigned long block, char mode) override;

  private:
    Des k1_;
    Des k2_;
    Des k3_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_TRIPLE_DES_H
