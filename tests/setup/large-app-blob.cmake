# Writes OUT: 10,000,000 random letters and digits from a fixed seed, the same bytes on every build. About six bits
# of every byte are random, so zlib's best compression keeps three quarters of it.
string(RANDOM LENGTH 10000000 RANDOM_SEED 9 blob)
file(WRITE "${OUT}" "${blob}")
