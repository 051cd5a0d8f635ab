-- Traffic-light controller for a crossing of a main road and a side road.
--
-- The main road keeps green until a car waits on the side road (detector
-- input CAR) and the main road has had its minimum green time. Every
-- change of right of way goes through yellow, all red, and red+yellow.
-- Lamps are one bit each, red-yellow-green from left to right.
-- Durations are in clocks; a real crossing would run this from a slow
-- clock enable, the simulation uses small values.

library ieee;
use ieee.std_logic_1164.all;

entity traffic_ctrl is
  generic (
    G_MAIN_MIN   : positive := 8;  -- minimum main green
    G_SIDE_GREEN : positive := 6;
    G_YELLOW     : positive := 3;
    G_READY      : positive := 2;  -- red+yellow before green
    G_CLEAR      : positive := 2   -- all red between the roads
  );
  port (
    clk        : in  std_logic;
    reset      : in  std_logic;  -- asynchronous, active high
    car        : in  std_logic;  -- side-road detector, any pulse width
    main_lamps : out std_logic_vector(2 downto 0);
    side_lamps : out std_logic_vector(2 downto 0)
  );
end entity traffic_ctrl;

architecture rtl of traffic_ctrl is

  type phase_t is (TO_MAIN, MAIN_READY, MAIN_GO, MAIN_STOP,
                   TO_SIDE, SIDE_READY, SIDE_GO, SIDE_STOP);

  constant TIMER_MAX : natural := 255;

  signal phase       : phase_t;
  signal timer       : natural range 0 to TIMER_MAX;  -- clocks spent in phase
  signal car_waiting : std_logic;

begin

  control : process (clk, reset)
    variable done : boolean;
  begin
    if reset = '1' then
      -- all red is the safe state to start from
      phase       <= TO_MAIN;
      timer       <= 0;
      car_waiting <= '0';
    elsif rising_edge(clk) then
      if car = '1' then
        car_waiting <= '1';
      end if;

      case phase is
        when TO_MAIN    => done := timer >= G_CLEAR - 1;
        when MAIN_READY => done := timer >= G_READY - 1;
        when MAIN_GO    => done := timer >= G_MAIN_MIN - 1 and car_waiting = '1';
        when MAIN_STOP  => done := timer >= G_YELLOW - 1;
        when TO_SIDE    => done := timer >= G_CLEAR - 1;
        when SIDE_READY => done := timer >= G_READY - 1;
        when SIDE_GO    => done := timer >= G_SIDE_GREEN - 1;
        when SIDE_STOP  => done := timer >= G_YELLOW - 1;
      end case;

      if done then
        timer <= 0;
        if phase = SIDE_STOP then
          phase <= TO_MAIN;
        else
          phase <= phase_t'succ(phase);
        end if;
        -- the waiting car is served by the green that starts now
        if phase = SIDE_READY then
          car_waiting <= '0';
        end if;
      elsif timer < TIMER_MAX then
        timer <= timer + 1;  -- saturates: main green may last for ever
      end if;
    end if;
  end process control;

  with phase select main_lamps <=
    "110" when MAIN_READY,
    "001" when MAIN_GO,
    "010" when MAIN_STOP,
    "100" when others;

  with phase select side_lamps <=
    "110" when SIDE_READY,
    "001" when SIDE_GO,
    "010" when SIDE_STOP,
    "100" when others;

end architecture rtl;
