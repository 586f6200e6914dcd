#pragma once

// Where the engine blocks between the steps of a wait and between two looks at the bus: the
// front end sleeps, a test may only count.
class Pause
{
public:
    virtual ~Pause() = default;
    virtual void pause(int milliseconds) = 0;
};
