#pragma once
// Charge pump into a passive second-order loop filter: C2 from the control node to ground, R in
// series with C1 from the control node to ground. Each interval is solved exactly for a constant
// pump current, so the result does not depend on how the time is cut into intervals.
class CdrLoopFilter {
  public:
    CdrLoopFilter(double resistance, double c1, double c2);

    // Starts from the control voltage `v2`, with C1 charged to v2 / (R C1 + 1).
    void Start(double v2);
    // `seconds` with the pump driving `current` amperes into the control node.
    void Charge(double current, double seconds);
    // `seconds` without pump current: the two capacitors share their charge through R.
    void Hold(double seconds);
    // Puts the two node voltages back to values saved earlier.
    void Restore(double v2, double v1);
    // The next Start begins afresh; until then the voltages stay as they are.
    void Reset() { started_ = false; }

    bool Started() const { return started_; }
    double ControlVoltage() const { return v2_; }  // across C2
    double SeriesVoltage() const { return v1_; }   // across C1

  private:
    // exp(-t / (R C1 C2 / (C1 + C2))), remembered for the last interval length: the loop runs
    // almost every interval at the same length.
    double Decay(double seconds);

    double r_, c1_, c2_;
    double sum_, product_, inverseSumSquared_, c1Squared_, c2Squared_;
    double v2_ = 0, v1_ = 0;
    bool started_ = false;
    double lastSeconds_ = -1, lastDecay_ = 1;
};
