! Timing baseline for korven_bench_records: the same element-list records,
! four (row, column, value) triples under FORMAT(4(2I3,F12.6)), written by
! the Fortran run-time library to a formatted sequential file.
!
! Usage: element_records_fortran [RECORDS [FILE [PASSES]]]
!   RECORDS  records of one pass (default 1000000)
!   FILE     file written (default element_records.fortran.out)
!   PASSES   passes timed (default 3); the mean of them is reported
! Each pass (open, the writes, close) is timed on the wall clock with
! system_clock; the processor time of the pass is reported beside it.
program element_records
  use, intrinsic :: iso_fortran_env, only: int64, real64
  implicit none
  integer :: records, passes, ntrip, j, r, k, p, unit_no, ios
  integer, allocatable :: row(:), col(:)
  real, allocatable :: val(:)
  character(len=512) :: arg, path
  integer(int64) :: t0, t1, rate, bytes, total_bytes
  real(real64) :: seconds, total_seconds
  real :: c0, c1, total_cpu

  records = 1000000
  passes = 3
  path = 'element_records.fortran.out'
  if (command_argument_count() >= 1) then
    call get_command_argument(1, arg)
    read (arg, *) records
  end if
  if (command_argument_count() >= 2) call get_command_argument(2, path)
  if (command_argument_count() >= 3) then
    call get_command_argument(3, arg)
    read (arg, *) passes
  end if

  ! Triple j (from 0): row 1 + 37j mod 999, column 1 + (101j + 13) mod 999,
  ! value 2.5 sin(j + 1). Made before the timing starts.
  ntrip = 4 * records
  allocate (row(0:ntrip - 1), col(0:ntrip - 1), val(0:ntrip - 1))
  do j = 0, ntrip - 1
    row(j) = 1 + mod(37 * j, 999)
    col(j) = 1 + mod(101 * j + 13, 999)
    val(j) = sin(real(j + 1)) * 2.5
  end do

  total_seconds = 0
  total_cpu = 0
  total_bytes = 0
  do p = 1, passes
    call system_clock(t0, rate)
    call cpu_time(c0)
    open (newunit=unit_no, file=trim(path), status='replace', form='formatted', &
          action='write', iostat=ios)
    if (ios /= 0) stop 'cannot open the output file'
    j = 0
    do r = 1, records
      write (unit_no, 100) (row(j + k), col(j + k), val(j + k), k = 0, 3)
      j = j + 4
    end do
    close (unit_no)
    call cpu_time(c1)
    call system_clock(t1)
    seconds = real(t1 - t0, real64) / real(rate, real64)
    inquire (file=trim(path), size=bytes)
    total_seconds = total_seconds + seconds
    total_cpu = total_cpu + (c1 - c0)
    total_bytes = total_bytes + bytes
    write (*, '(A,I0,A,F10.4,A,F10.4,A,F14.0,A)') 'pass ', p, ': ', seconds, ' s (cpu ', &
      c1 - c0, ' s), ', real(records, real64) / seconds, ' records/s'
  end do

  write (*, '(A,I0)') 'records ', records
  write (*, '(A,I0)') 'passes ', passes
  write (*, '(A,F14.6)') 'mean_seconds ', total_seconds / passes
  write (*, '(A,F14.6)') 'mean_cpu_seconds ', total_cpu / passes
  write (*, '(A,F16.1)') 'records_per_second ', real(records, real64) * passes / total_seconds
  write (*, '(A,F18.1)') 'bytes_per_second ', real(total_bytes, real64) / total_seconds
  write (*, '(A,F8.2)') 'bytes_per_record ', real(total_bytes, real64) / (real(records, real64) * passes)
100 format (4(2I3,F12.6))
end program element_records
