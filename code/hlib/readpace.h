#pragma once

// The size of the next read of a body. A synchronous WinInet read waits
// until its whole size has arrived, and the received count (the window's
// progress) moves only between reads. Reads therefore grow while they come
// back at once and shrink when one had to wait long: on a fast link they
// reach the largest size (few calls), on a slow one a read lasts about a
// progress sample, as reads of kSmallest bytes always did.
class ReadPace {
 public:
  static constexpr int kSmallest = 14336;
  static constexpr int kQuickMs = 20;  // a whole read back within this: the next may be twice as large
  static constexpr int kSlowMs = 100;  // a read that waited longer: the next is half as large

  // iLargest: the most one read may ask for (a smaller one is also the smallest).
  explicit ReadPace(int iLargest);

  // Bytes to ask for: what has arrived already (iAvailable) if that is
  // more than the pace, never more than the largest read or iRemaining
  // (at least 1 while iRemaining is).
  int Next(int iAvailable, int iRemaining) const;

  // After a read that asked for iAsked bytes and got iGot in iMs
  // milliseconds (a clock that went back counts as quick).
  void Took(int iAsked, int iGot, int iMs);

  int Pace() const { return m_iPace; }

 private:
  int m_iLargest;
  int m_iPace;
};
