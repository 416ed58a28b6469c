#include "keys.h"

bool ends_inside_key(const unsigned char *bytes, std::size_t size)
{
	enum { between, escape, sequence, utf8 } state = between;
	int more = 0; // continuation bytes the UTF-8 character still needs
	for (std::size_t i = 0; i < size; ++i) {
		const unsigned char ch = bytes[i];
		switch (state) {
		case escape: // ESC [ and ESC O begin a sequence; ESC and
			     // another key are Alt and that key
			if (ch == '[' || ch == 'O') {
				state = sequence;
				continue;
			}
			break;
		case sequence: // parameters up to a final byte
			if (ch >= 0x40 && ch <= 0x7e)
				state = between;
			continue;
		case utf8:
			if ((ch & 0xc0) == 0x80) {
				if (--more == 0)
					state = between;
				continue;
			}
			break; // the character was cut short: a key begins
		case between:
			break;
		}
		if (ch >= 0xc2 && ch <= 0xf4) {
			state = utf8;
			more = ch >= 0xf0 ? 3 : ch >= 0xe0 ? 2 : 1;
		} else {
			state = ch == 0x1b ? escape : between;
		}
	}
	return state != between;
}
